#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and the demo need.
# Idempotent: it installs only what is missing, so running it again costs a few dpkg queries.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# fonts-wine: Wine's own fonts, among them Marlett, which draws the buttons of a title bar (without
# it the close box shows as an "r"). osslsigncode and openssl: the release signing script and its
# tests (a throwaway certificate). clang-format: the house style (.clang-format).
packages=(
  g++-mingw-w64-i686-posix mingw-w64-tools mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine32:i386 fonts-wine xvfb xauth x11-utils fonts-ipafont-gothic imagemagick
  googletest libgtest-dev cmake make g++ python3 ca-certificates locales
  g++-mingw-w64-x86-64-posix wine64 msitools wixl osslsigncode openssl clang-format
)
for p in "${packages[@]}"; do have_pkg "$p" || need+=("$p"); done

# Wine turns Windows file names into Unix ones through the Unix locale: without a real
# ja_JP.UTF-8 locale, names with Japanese characters cannot be created at all.
make_locale() {
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' && return
  ${SUDO:-} localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}
if [ ${#need[@]} -eq 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  make_locale
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
make_locale
echo "setup: installed ${need[*]}"
