# Which of our headers a library's files may include. Every library sees all
# of src/ through one include root, so the compiler alone would let the window
# include the engine's Chromium headers; this check fails the build instead.
#
# velmora_include_rules(<target> ALLOW <prefix>... [FILES <name>...] [SKIP <name>...])
# A file of the target's folder (all of them, or the FILES named, but not the
# SKIPped) may include a header of src/core, src/engine, src/app or src/cli
# only if its path from src/ starts with one of the prefixes: "core/" allows
# a folder, "engine/browser.h" one header. The check runs before the target
# is compiled, and again whenever a file of the folder changes.
function(velmora_include_rules target)
  cmake_parse_arguments(ARG "" "" "ALLOW;FILES;SKIP" ${ARGN})
  # A file added to the folder reconfigures, so it is checked too.
  file(GLOB files CONFIGURE_DEPENDS LIST_DIRECTORIES false
    ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.includes-checked)
  set(script ${PROJECT_SOURCE_DIR}/cmake/check_includes.cmake)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR}/src -DDIR=${CMAKE_CURRENT_SOURCE_DIR}
            "-DALLOW=${ARG_ALLOW}" "-DFILES=${ARG_FILES}" "-DSKIP=${ARG_SKIP}" -DTARGET=${target} -P ${script}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${files} ${script} ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Checking what ${target} includes"
    VERBATIM)
  add_custom_target(${target}_includes DEPENDS ${stamp})
  add_dependencies(${target} ${target}_includes)
endfunction()
