#!/usr/bin/env bash
# Checks a built executable's format: PE of the tree's architecture, GUI subsystem (2), no MinGW
# runtime DLL among its imports, and the DLL characteristics it must carry.
# Usage: check_pe.sh <build-dir> <exe> [+CHARACTERISTIC ...] [allowed-dll ...]
#   +CHARACTERISTIC: a flag objdump lists under DllCharacteristics (DYNAMIC_BASE, NX_COMPAT,
#   TERMINAL_SERVICE_AWARE) that the file must have.
set -eu
build=$1; exe=$2; shift 2
case "$(cat "$build/wine-arch" 2>/dev/null)" in
  win64) prefix=x86_64-w64-mingw32; format=pei-x86-64 ;;
  *) prefix=i686-w64-mingw32; format=pei-i386 ;;
esac
fail=0
header=$("$prefix-objdump" -p "$exe")
while [ $# -gt 0 ] && [ "${1#+}" != "$1" ]; do
  flag=${1#+}; shift
  echo "$header" | sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' | grep -qw "$flag" \
    || { echo "$exe: DllCharacteristics lack $flag"; fail=1; }
done
"$prefix-objdump" -f "$exe" | grep -q "file format $format" || { echo "$exe: not $format"; fail=1; }
"$prefix-objdump" -p "$exe" | grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]' || { echo "$exe: not a GUI program (subsystem 2)"; fail=1; }
dlls=$("$prefix-objdump" -p "$exe" | awk '/DLL Name:/ {print tolower($3)}')
if echo "$dlls" | grep -Eq 'libstdc|libgcc|libwinpthread'; then echo "$exe: imports a MinGW runtime DLL"; fail=1; fi
if [ $# -gt 0 ]; then
  for dll in $dlls; do
    ok=0; for allowed in "$@"; do [ "$dll" = "$(echo "$allowed" | tr A-Z a-z)" ] && ok=1; done
    [ $ok = 1 ] || { echo "$exe: unexpected import $dll"; fail=1; }
  done
fi
[ $fail = 0 ] && echo "$exe: $format, GUI, imports: $(echo $dlls)"
exit $fail
