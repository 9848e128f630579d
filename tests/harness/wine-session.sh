#!/usr/bin/env bash
# Starts or stops the Wine session of a build tree: a private Xvfb display, the 32-bit prefix
# (created once, with the Japanese dialog fonts mapped) and one persistent wineserver, so that
# each test process starts in a fraction of a second instead of several.
# Usage: wine-session.sh start|stop|restart-server <build-dir>
set -eu
here=$(dirname "$(readlink -f "$0")")
action=$1
source "$here/wine-env.sh" "$2" 2>/dev/null
mkdir -p "$WINE_SESSION_DIR"

start_display() {
  if [ -f "$WINE_SESSION_DIR/xvfb.pid" ] && kill -0 "$(cat "$WINE_SESSION_DIR/xvfb.pid")" 2>/dev/null; then
    return
  fi
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  echo $! > "$WINE_SESSION_DIR/xvfb.pid"
  for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  echo ":$n" > "$WINE_SESSION_DIR/display"
  export DISPLAY=":$n"
}

# Settings of the prefix, applied when the prefix is new or the settings changed.
configure_prefix() {
  local reg="$WINE_SESSION_DIR/prefix.reg"
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    # A crashing program ends with its backtrace on stderr instead of waiting on a crash dialog
    # that nobody answers until the test's timeout.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n'
    printf '"ShowCrashDialog"=dword:00000000\r\n\r\n'
    # Xvfb runs without a window manager. Wine's windows are unmanaged, so hiding one does not wait
    # two seconds for a window manager's acknowledgement that never comes.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n'
    printf '"Managed"="N"\r\n\r\n'
    # Dialog templates name "ＭＳ Ｐゴシック"; map it and its siblings to the installed IPA font.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    for face in 'ＭＳ Ｐゴシック' 'MS PGothic' 'MS UI Gothic' 'MS Shell Dlg' 'MS Shell Dlg 2'; do
      printf '"%s"="IPAPGothic"\r\n' "$face"
    done
    for face in 'ＭＳ ゴシック' 'MS Gothic'; do
      printf '"%s"="IPAGothic"\r\n' "$face"
    done
  } | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } > "$reg.new"
  if [ -f "$WINEPREFIX/prefix-configured" ] && cmp -s "$reg.new" "$reg"; then
    rm -f "$reg.new"
    return
  fi
  mv "$reg.new" "$reg"
  "$WINE" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
  "$WINESERVER" -w
  touch "$WINEPREFIX/prefix-configured"
}

case "$action" in
  start)
    start_display
    "$WINESERVER" -k 2>/dev/null || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$WINE" wineboot --init >/dev/null 2>&1
      "$WINESERVER" -w
    fi
    # Wine draws the caption buttons with its Marlett font, but loads only the fonts of the
    # prefix's Fonts folder and the system's: without this copy the close box is drawn as an "r".
    fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
      mkdir -p "$fonts" && cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
    fi
    configure_prefix
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    # Warm the server up once so the first test does not pay for it.
    "$WINE" cmd /c exit >/dev/null 2>&1 || true
    ;;
  restart-server)
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    ;;
  stop)
    "$WINESERVER" -k 2>/dev/null || true
    if [ -f "$WINE_SESSION_DIR/xvfb.pid" ]; then
      kill "$(cat "$WINE_SESSION_DIR/xvfb.pid")" 2>/dev/null || true
      rm -f "$WINE_SESSION_DIR/xvfb.pid" "$WINE_SESSION_DIR/display"
    fi
    ;;
  *) echo "usage: $0 start|stop|restart-server <build-dir>" >&2; exit 2 ;;
esac
