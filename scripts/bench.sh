#!/usr/bin/env bash
# Builds and runs the benchmarks and prints their figures: XOR pass against memcpy, extraction
# against plain copies, peak private memory of the extraction for a small and a 64 MiB payload,
# start-up (time to the first page and working set there) with the stand-in payload and with a
# large one, the log's backup and restore against CopyFileA for a 1 MiB and a 256 MiB log, and the
# sizes of the launcher and of the updater without its payload. Every timed figure is the median
# of the given number of runs, so that one slow run on a shared machine does not move it.
# Usage: bench.sh [runs]   (default 15)
#   BENCH_STARTUP_MIB: size of the large start-up payload's setup file in MiB (default 1536; its
#   updater takes about 2.5 minutes and 8 GB of disk to build here, 0 leaves the start-up out)
set -euo pipefail
runs=${1:-15}
startup_mib=${BENCH_STARTUP_MIB:-1536}
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source scripts/wine-arch.sh
preset=$wine_preset; build=$wine_build
if [ "$wine_bits" = 64 ]; then
  echo "bench: this kernel cannot run 32-bit Linux programs; measuring the 64-bit build under 64-bit Wine"
fi
cmake --preset "$preset" -DUPDATER_BENCH_STARTUP_MIB="$startup_mib" >/dev/null
cmake --build --preset "$preset" --target benchmarks >/dev/null
if [ "$startup_mib" != 0 ]; then
  cmake --build --preset "$preset" --target startup_benchmarks >/dev/null
fi
bash tests/harness/wine-session.sh start "$build"
trap 'bash tests/harness/wine-session.sh stop "$build"' EXIT
source tests/harness/wine-env.sh "$build" 2>/dev/null
win() { echo "Z:${1//\//\\}"; }
declare -A peak
for kind in small large; do
  echo "== payload_benchmark_$kind ($runs runs)"
  out=$("$WINE" "$build/bin/payload_benchmark_$kind.exe" "$(win "$root/$build/benchmarks/$kind-release")" "$runs")
  echo "$out"
  peak[$kind]=$(echo "$out" | awk '/^peak private memory/ {print $(NF-1)}')
done
if [ "$startup_mib" != 0 ]; then
  echo "== start-up: Updater.exe with the stand-in payload against one with a $startup_mib MiB setup file ($runs runs)"
  "$WINE" "$build/bin/startup_benchmark.exe" "$(win "$root/$build/bin/Updater.exe")" \
    "$(win "$root/$build/bin/startup-large/Updater.exe")" "$runs"
fi
if [ -f "$build/bin/log_benchmark.exe" ]; then
  echo "== log_benchmark ($runs runs; at most 5 for the 256 MiB log)"
  "$WINE" "$build/bin/log_benchmark.exe" "$runs"
fi
echo "== memory"
echo "peak private memory, 64 MiB payload less small one: $((peak[large] - peak[small])) KiB (target <= 1024)"
echo "== sizes ($build, $wine_bits-bit)"
echo "launcher file:                     $(stat -c %s "$build/bin/TmkUpLauncher.exe") bytes (target <= 8192)"
bash tests/harness/updater_size.sh "$build/host-tools/inspect_updater" "$build/bin/Updater.exe" || true
if [ "$build" != build ] && [ -f build/bin/Updater.exe ]; then
  echo "== sizes (build, the shipped 32-bit build)"
  echo "launcher file:                     $(stat -c %s build/bin/TmkUpLauncher.exe) bytes (target <= 8192)"
  bash tests/harness/updater_size.sh build/host-tools/inspect_updater build/bin/Updater.exe || true
fi
