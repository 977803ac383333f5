#!/bin/sh
# `./make run`, `./make test`, ...: the Makefile's targets on a bare Debian
# system too, where make itself is missing (a minimal install and a standard
# desktop have none). Installs it, then hands over with the same arguments.
set -eu
cd "$(dirname "$0")"
self="$PWD/$(basename "$0")"

found_make() {
  for candidate in $(which -a gmake make 2>/dev/null); do
    # Not this script, should "." be on PATH.
    [ "$candidate" -ef "$self" ] || { echo "$candidate"; return 0; }
  done
  return 1
}

if ! make_program=$(found_make); then
  if [ "$(id -u)" -eq 0 ]; then
    sudo=
  elif command -v sudo >/dev/null 2>&1; then
    sudo=sudo
  else
    echo "make: need root or sudo to install make" >&2
    exit 1
  fi
  echo "make: installing make"
  $sudo apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends make
  make_program=$(found_make)
fi
exec "$make_program" "$@"
