#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and the demo need.
# Idempotent: it installs only what is missing, so running it again costs a few dpkg queries.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=(
  g++-mingw-w64-i686-posix mingw-w64-tools mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine32:i386 xvfb xauth x11-utils fonts-ipafont-gothic imagemagick
  googletest cmake make g++ python3 ca-certificates
  g++-mingw-w64-x86-64-posix wine64
)
for p in "${packages[@]}"; do have_pkg "$p" || need+=("$p"); done
[ ${#need[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
echo "setup: installed ${need[*]}"
