# need_pkg PACKAGE...: installs the Debian packages that are missing (as root, or through sudo).
# Sourced by the scripts that compare Harvestrix with the tools beside it.
need_pkg() {
  local missing=()
  for p in "$@"; do dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
