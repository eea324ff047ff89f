#!/usr/bin/env bash
# Every byte of a medium is read through the media layer: a file outside
# media/, volumes/ and platform/ that opens a medium itself fails this check
# unless it is among those that still do (scripts/medium-readers.txt). A file
# that no longer does is to be taken off the list.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
list="$root/scripts/medium-readers.txt"
cd "$root/src"
bad=0
known=$(grep -v '^#' "$list" | awk 'NF {print $1}' | sort)
found=$(grep -rl 'OpenDrive(' --include='*.cpp' --include='*.h' . | sed 's|^\./||' |
        grep -vE '^(media|volumes|platform)/' | sort)
while IFS= read -r file; do
  [ -n "$file" ] || continue
  echo "opens a medium itself (read it through media/, or list it in scripts/medium-readers.txt): $file"; bad=1
done < <(comm -13 <(echo "$known") <(echo "$found"))
while IFS= read -r file; do
  [ -n "$file" ] || continue
  echo "no longer opens a medium itself: take it off scripts/medium-readers.txt: $file"; bad=1
done < <(comm -23 <(echo "$known") <(echo "$found"))
exit $bad
