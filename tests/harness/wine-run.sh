#!/usr/bin/env bash
# CTest's cross-compiling emulator: runs one Windows program under the build tree's Wine session.
# Usage: wine-run.sh <build-dir> <program.exe> [args...]
set -u
here=$(dirname "$(readlink -f "$0")")
source "$here/wine-env.sh" "$1" 2>/dev/null
shift
exec "$WINE" "$@"
