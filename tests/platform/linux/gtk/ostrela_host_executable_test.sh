#!/usr/bin/env bash
# Installs OstrelaHost into a temporary prefix and runs it under Xvfb, with
# forced preferences in a private mount namespace (root only): it publishes the
# forced configuration, finds its installed resources, keeps running with its
# page (a missing page ends it) and quits cleanly on SIGTERM.
#   ostrela_host_executable_test.sh <build dir> <managed folder>
set -euo pipefail
[[ $(id -u) == 0 ]] || { echo "needs root for a private mount namespace: skipped"; exit 0; }
wrap=$(dirname "$(readlink -f "$0")")/../../../support/with_managed_preferences.sh

if [[ ${1:-} == --inside ]]; then
  host=$2 work=$3 fixed=$4
  "$wrap" "$fixed" "$work/managed" "$host" 2>"$work/stderr" &
  pid=$!
  for _ in $(seq 200); do
    if grep -qs 'Published and read back' "$work/stderr"; then
      sleep 2  # the page loads in about 0.35 s
      break
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! kill -TERM "$pid" 2>/dev/null; then
    wait "$pid" && status=0 || status=$?
    echo "OstrelaHost ended by itself with status $status"; exit 1
  fi
  wait "$pid" && status=0 || status=$?
  [[ $status == 0 ]] || { echo "OstrelaHost quit with status $status on SIGTERM"; exit 1; }
  exit 0
fi

work=$(mktemp -d)
# WebKit's helper processes may still be writing their caches for a moment after the host quits.
trap 'for _ in 1 2 3 4 5; do rm -rf "$work" 2>/dev/null && break; sleep 0.5; done' EXIT
fail() { echo "FAIL: $*"; echo "--- stderr"; cat "$work/stderr" 2>/dev/null; exit 1; }

fixed=$2
cmake --install "$1" --component ostrela-host --prefix "$work/prefix" >/dev/null
host=$work/prefix/bin/OstrelaHost
for file in share/applications/com.ostrela.safari-extension.desktop \
            share/icons/hicolor/scalable/apps/com.ostrela.safari-extension.svg \
            share/ostrela-host/Main.html share/ostrela-host/Main.ui; do
  [[ -f $work/prefix/$file ]] || fail "not installed: $file"
done

mkdir -p "$work/managed" "$work/home" "$work/cache" "$work/data"
chmod 755 "$work" "$work/managed"
echo '{"organizationId": "org-1", "endpoint": "https://e.example", "machineId": 7}' \
  >"$work/managed/com.ostrela.safari-extension.json"
export HOME=$work/home XDG_CONFIG_HOME=$work/config
export XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
export OSTRELA_LOG_LEVEL=debug GTK_A11Y=none

xvfb-run -a "$0" --inside "$host" "$work" "$fixed" || fail "the host did not run as expected"

grep -q 'com.ostrela.safari-extension\[managed-config\] debug: Published and read back 1 managed key(s) via the App Group$' \
  "$work/stderr" || fail "no publication line"
source "$(dirname "$0")/../../../../scripts/app_group.sh"
suite=$work/config/$app_group_file
[[ $(cat "$suite") == '{"organizationId":"org-1"}' ]] || fail "suite holds $(cat "$suite")"
[[ $(stat -c %a "$suite") == 600 ]] || fail "suite file mode $(stat -c %a "$suite")"
echo "OstrelaHost published and ran with its page"
