#!/usr/bin/env bash
# Builds and runs the benchmarks and prints their figures: XOR pass against memcpy, extraction
# against plain copies, peak private memory of the extraction for a small and a 64 MiB payload,
# and the sizes of the launcher and of the updater without its payload.
set -euo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source scripts/wine-arch.sh
preset=$wine_preset; build=$wine_build
if [ "$wine_bits" = 64 ]; then
  echo "bench: this kernel cannot run 32-bit Linux programs; measuring the 64-bit build under 64-bit Wine"
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target benchmarks >/dev/null
bash tests/harness/wine-session.sh start "$build"
trap 'bash tests/harness/wine-session.sh stop "$build"' EXIT
source tests/harness/wine-env.sh "$build" 2>/dev/null
win() { echo "Z:${1//\//\\}"; }
for kind in small large; do
  echo "== payload_benchmark_$kind"
  "$WINE" "$build/bin/payload_benchmark_$kind.exe" "$(win "$root/$build/benchmarks/$kind-release")" \
    "$(win "$root/$build/bin/Updater.exe")" "$(win "$root/$build/bin/TmkUpLauncher.exe")" 5
done
echo "== shipped 32-bit build"
total=$(stat -c %s build/bin/Updater.exe)
payload=$(build/host-tools/inspect_updater build/bin/Updater.exe | awk '/ZELNA 1(3[6-9]|4[0-5]) / {sum += $4} END {print sum}')
echo "launcher file:                     $(stat -c %s build/bin/TmkUpLauncher.exe) bytes (target <= 8192)"
echo "Updater.exe:                       $total bytes, payload $payload bytes"
echo "Updater.exe without its payload:   $((total - payload)) bytes (target <= 409600)"
