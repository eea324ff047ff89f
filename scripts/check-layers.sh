#!/usr/bin/env bash
# The engine's folders in layers, lowest first: a folder includes only its
# own headers and those of the folders below it, and the window and the
# command line never include each other; only platform/ includes the
# operating system's headers. Prints every include that breaks this and
# fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/../src"
LAYERS=(platform volumes shell utilities media filesystems formats viewing learning undelete scan reassembly output cli gui)
rank() { local i; for i in "${!LAYERS[@]}"; do [ "${LAYERS[$i]}" = "$1" ] && echo "$i" && return; done; echo -1; }
bad=0
for dir in */; do
  dir=${dir%/}
  own=$(rank "$dir")
  [ "$own" -ge 0 ] || { echo "check-layers: $dir has no place among the layers"; bad=1; continue; }
  while IFS=: read -r file _ inc; do
    target=${inc#*\"}; target=${target%%/*}
    other=$(rank "$target")
    [ "$other" -ge 0 ] || continue
    if [ "$other" -gt "$own" ]; then echo "upward: $file includes $target/"; bad=1; fi
    # The two front ends stand side by side over the engine.
    if [ "$dir" = gui ] && [ "$target" = cli ]; then echo "front ends: $file includes cli/"; bad=1; fi
  done < <(grep -rn '#include "[a-z]*/' "$dir" || true)
done
# Calls to the operating system go through platform/ only.
while IFS= read -r hit; do
  echo "system call outside platform/: $hit"; bad=1
done < <(grep -rnE '#include <(unistd|fcntl|dirent|pwd|termios|fnmatch|signal|poll|sys/[a-z_]+|linux/[a-z_]+)\.h>' \
           --include='*.cpp' --include='*.h' . | grep -v '^\./platform/' || true)
exit $bad
