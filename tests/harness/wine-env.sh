# Sourced by the harness scripts: the environment of every Wine process of one build tree.
# $1: the build tree. The prefix lives inside it, never in a home folder.
build_dir=$(cd "$1" && pwd)
export WINEPREFIX="$build_dir/wineprefix"
# The build tree says which Wine runs its programs: 32-bit (win32 prefix) for i686 builds, or
# 64-bit for the x86_64 test build used where 32-bit Linux programs cannot run.
if [ "$(cat "$build_dir/wine-arch" 2>/dev/null)" = win64 ]; then
  export WINEARCH=win64
  WINE=/usr/lib/wine/wine64
  WINESERVER=/usr/lib/wine/wineserver64
  export WINELOADER=$WINE
else
  export WINEARCH=win32
  WINE=wine
  WINESERVER=wineserver
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Code page 932: the ANSI code page of the users' machines. It takes effect for a wineserver
# started with it, which is why the session script restarts the server.
export LC_ALL=ja_JP.UTF-8
export WINE_SESSION_DIR="$build_dir/wine-session"
if [ -f "$WINE_SESSION_DIR/display" ]; then
  export DISPLAY=$(cat "$WINE_SESSION_DIR/display")
fi
