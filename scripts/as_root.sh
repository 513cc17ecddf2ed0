# as_root COMMAND...: runs COMMAND as root, directly when this is root and
# through sudo otherwise. Sourced by the scripts that install or remove packages.
as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}
