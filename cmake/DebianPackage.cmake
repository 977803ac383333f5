# `make package`: velmora_<version>_amd64.deb with CPack. What goes in is
# whatever `cmake --install` installs; this file says how it is packed.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Ardentis)
set(CPACK_PACKAGE_CONTACT "Velmora developers <maintainers@ardentis.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extract the hyperlinks of a web page")
set(CPACK_PACKAGE_DESCRIPTION "\
Velmora loads a web page in a headless Chromium, lets its scripts run, and
lists the address of every link on it once the page has loaded, optionally
only those containing a filter text. The list can be freed of repeats and
saved as a text file. The window's interface is in simplified Chinese.

velmora-extract does the same on the command line: it prints the links of
the pages given, one a line, for shell pipelines.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://${VELMORA_VENDOR_HOST}/")
# The shared-library scan adds Qt and the C++ runtime to these.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "chromium-headless-shell | chromium, fonts-noto-cjk, qt6-translations-l10n")
# Directories in the archive as dpkg expects them, whatever the umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

include(CPack)
