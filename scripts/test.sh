#!/usr/bin/env bash
# Builds the updater and runs the whole test suite under Wine. Installs what is missing first.
#
# The shipped Updater.exe is always the 32-bit (i686) build in build/. Its tests run under 32-bit
# Wine when this machine can execute 32-bit Linux programs; on a kernel without 32-bit support
# (32-bit Wine cannot start there) the same sources are built as 64-bit Windows programs in
# build-x64/ and the suite runs under 64-bit Wine instead.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
bash scripts/setup.sh

cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  ctest --preset mingw-i686
else
  echo "test: this kernel cannot run 32-bit Linux programs; running the suite as 64-bit programs under 64-bit Wine"
  ctest --preset mingw-i686 -L linux
  cmake --preset mingw-x86_64-tests >/dev/null
  cmake --build --preset mingw-x86_64-tests
  ctest --preset mingw-x86_64-tests
fi
