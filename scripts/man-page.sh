#!/usr/bin/env bash
# The manual page of harvestrix-cli, made from its own help so that the two
# never differ:  bash scripts/man-page.sh path/to/harvestrix-cli [harvestrix-cli.1]
set -euo pipefail
cli=$1
if [ $# -ge 2 ]; then exec >"$2"; fi
version=$("$cli" version 2>/dev/null | awk '{print $NF}')
help=$("$cli" --help 2>&1 || true)
# troff takes a leading dot or quote as a request, and a backslash as an escape.
escape() { sed -e 's/\\/\\e/g' -e 's/^\([.'"'"']\)/\\\&\1/' -e 's/-/\\-/g'; }
cat <<HEAD
.TH HARVESTRIX-CLI 1 "" "harvestrix $version" "User Commands"
.SH NAME
harvestrix-cli \- recover lost and deleted photographs and files from memory cards, sticks, disks and disk images
.SH SYNOPSIS
HEAD
printf '%s\n' "$help" | sed -n '1s/^usage: //p' | escape | sed 's/^/.B /'
cat <<'DESC'
.SH DESCRIPTION
.B harvestrix-cli
is the command line of Harvestrix. It reads a medium (a card, a stick, a disk, or an image of one) sector by
sector and finds files by their signatures, undeletes from FAT, exFAT and NTFS, images and restores media, and
saves what it found somewhere safe. It never writes to the medium it recovers from, except in the commands made
for it (wipe, repair, format, restore), and only after asking.
.SH COMMANDS
DESC
printf '%s\n' "$help" | awk '/^commands:/{on=1; next} /^$/{on=0} on' | escape | while IFS= read -r line; do
  line=${line#  }
  # "name ARGS   what it does": the command and its arguments, then the text after the widest gap.
  what=$(printf '%s' "$line" | sed -E 's/^.*[^ ]  +//')
  head=$(printf '%s' "$line" | sed -E 's/  +[^ ].*$//')
  [ "$what" = "$line" ] && what=""
  printf '.TP\n.B %s\n%s\n' "$head" "$what"
done
echo ".SH EXIT STATUS"
printf '%s\n' "$help" | sed -n 's/^exit codes: //p' | escape
cat <<'TAIL'
.SH SEE ALSO
.BR harvestrix (1)
TAIL
