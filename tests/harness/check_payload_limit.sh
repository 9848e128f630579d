#!/usr/bin/env bash
# The payload step refuses a payload too large for the 32-bit updater to load, before it reads or
# writes anything, and says the limit. Small files with lowered limits check the arithmetic at its
# edge (the launcher counts too); a sparse file (no disk blocks, nothing read) checks that the
# build's own limit refuses a payload of the size at which the updater was seen to show no window.
# Usage: check_payload_limit.sh <pack_payload> <the build's limit in bytes> <file name>...
set -u
pack=$1; build_limit=$2; shift 2
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir -p "$work/small" "$work/large"
n=0
for name in "$@"; do n=$((n + 1)); truncate -s $((n * 1000)) "$work/small/$name"; truncate -s 0 "$work/large/$name"; done
truncate -s 100 "$work/launcher.exe"
files=$(( n * (n + 1) / 2 * 1000 ))        # 1000 + 2000 + ... bytes
total=$(( files + 100 ))
truncate -s 2020000000 "$work/large/$1"    # under Wine the updater showed no window from 2.02 GB

fail=0
# expected exit status | limit | release folder | launcher | text the refusal must carry
cases=(
  "0|$total|small|launcher.exe|"
  "1|$((total - 1))|small|launcher.exe|over the limit of $((total - 1)) bytes"
  "1|$files|small|launcher.exe|come to $total bytes"
  "0|$files|small||"
  "2|0|small||usage"
  "2|12abc|small||usage"
  "1|$build_limit|large|launcher.exe|over the limit of $build_limit bytes"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r want limit folder launcher text <<<"$entry"
  rm -rf "$work/out"
  args=(--max-payload "$limit" "$work/$folder" "$work/out" "$work/out/payload.rc")
  [ -n "$launcher" ] && args+=("$work/$launcher")
  "$pack" "${args[@]}" >"$work/log" 2>&1
  status=$?
  what="limit $limit, $folder payload${launcher:+ and launcher}"
  if [ "$status" != "$want" ]; then
    echo "FAIL  $what: exit $status, expected $want"; sed 's/^/      /' "$work/log"; fail=1
  elif [ -n "$text" ] && ! grep -qF "$text" "$work/log"; then
    echo "FAIL  $what: no \"$text\" in:"; sed 's/^/      /' "$work/log"; fail=1
  elif [ "$want" = 1 ] && [ -e "$work/out" ]; then
    echo "FAIL  $what: refused, but wrote $work/out"; fail=1
  else
    echo "ok    $what: exit $status"
  fi
done
exit $fail
