#!/usr/bin/env bash
# Two builds of one commit in two folders must give the same bytes, so no program the build makes
# may carry the time it was linked or the folder it was built in. Checks, for each program given
# (and for the launcher embedded in Updater.exe, written out by the inspection tool), the time
# stamps a PE file has (the file header's, the export and resource directories'; a stripped
# program has no debug directory) and every build path as text, in single bytes and in UTF-16.
# Usage: check_reproducible.sh <inspect_updater> <source dir> <build dir> <Updater.exe> <program>...
set -u
inspect=$1; source_dir=$2; build_dir=$3; updater=$4; shift 4
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
"$inspect" --write-launcher "$work/embedded-launcher.exe" "$updater" >/dev/null ||
  { echo "cannot write out the launcher embedded in $updater"; exit 1; }

u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
# The file offset of a directory's address (RVA), through the section table; 0 when none.
file_offset() {
  local file=$1 rva=$2 pe sections table i at va vsize raw
  pe=$(u32 "$file" 60); sections=$(u16 "$file" $((pe + 6)))
  table=$((pe + 24 + $(u16 "$file" $((pe + 20)))))
  for ((i = 0; i < sections; i++)); do
    at=$((table + 40 * i)); va=$(u32 "$file" $((at + 12))); vsize=$(u32 "$file" $((at + 8)))
    raw=$(u32 "$file" $((at + 20)))
    if [ "$rva" -ge "$va" ] && [ "$rva" -lt $((va + vsize)) ]; then echo $((rva - va + raw)); return; fi
  done
  echo 0
}
utf16() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; }

fail=0
for exe in "$updater" "$work/embedded-launcher.exe" "$@"; do
  name=${exe#"$build_dir"/}; [ "$exe" = "$work/embedded-launcher.exe" ] && name="launcher embedded in Updater.exe"
  problems=()
  pe=$(u32 "$exe" 60)
  [ "$(u32 "$exe" $((pe + 8)))" = 0 ] || problems+=("link time stamp $(u32 "$exe" $((pe + 8)))")
  magic=$(u16 "$exe" $((pe + 24)))
  directories=$((pe + 24 + ( magic == 523 ? 112 : 96 )))
  for entry in "0 export" "2 resource"; do
    read -r index what <<<"$entry"
    rva=$(u32 "$exe" $((directories + 8 * index)))
    [ "$rva" = 0 ] && continue
    at=$(file_offset "$exe" "$rva")
    stamp=$(u32 "$exe" $((at + 4)))
    [ "$stamp" = 0 ] || problems+=("$what directory time stamp $stamp")
  done
  for path in "$source_dir" "$build_dir"; do
    grep -qaF "$path" "$exe" && problems+=("build path $path")
    if LC_ALL=C grep -qaP "$(utf16 "$path" | od -An -tx1 | tr -s ' \n' ' ' | sed 's/ \([0-9a-f][0-9a-f]\)/\\x\1/g; s/ //g')" "$exe"; then
      problems+=("build path $path (UTF-16)")
    fi
  done
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok    $name"
  else
    echo "FAIL  $name: ${problems[*]}"; fail=1
  fi
done
exit $fail
