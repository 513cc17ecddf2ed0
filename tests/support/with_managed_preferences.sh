#!/bin/sh
# with_managed_preferences.sh FIXED-FOLDER FOLDER COMMAND [ARGUMENT...]
# Runs COMMAND in a private mount namespace in which FOLDER is mounted over
# FIXED-FOLDER, the installed folder of forced preferences, so that tests run
# the real executables without touching the machine's own folder. When
# FIXED-FOLDER does not exist, a throw-away overlay over the nearest existing
# folder above it creates it, visible inside the namespace only. Needs root
# (CAP_SYS_ADMIN), as an unprivileged user cannot do this to an installed copy.
set -eu
[ $# -ge 3 ] || { echo "usage: $0 FIXED-FOLDER FOLDER COMMAND [ARGUMENT...]" >&2; exit 2; }
exec unshare --mount --propagation private -- sh -euc '
  fixed=$1 folder=$2
  shift 2
  umask 022
  if [ ! -d "$fixed" ]; then
    base=$fixed
    while [ ! -d "$base" ]; do base=$(dirname "$base"); done
    scratch=$(mktemp -d "$(dirname "$folder")/.overlay-XXXXXX")
    mkdir "$scratch/upper" "$scratch/work"
    mount -t overlay overlay -o "lowerdir=$base,upperdir=$scratch/upper,workdir=$scratch/work" "$base"
    mkdir -p "$fixed"
  fi
  mount --bind "$folder" "$fixed"
  exec "$@"' sh "$@"
