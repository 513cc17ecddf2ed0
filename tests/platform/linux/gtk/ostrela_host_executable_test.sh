#!/usr/bin/env bash
# Runs OstrelaHost under Xvfb, with forced preferences in a private mount
# namespace (root only), and checks that it publishes the forced
# configuration, finds its resources and loads its page, and that it quits
# cleanly on SIGTERM. The scripted test build also shows that the page asked
# for the extension's state (OSTRELA_HOST_SCRIPTED_BROWSER).
#   ostrela_host_executable_test.sh <OstrelaHostScripted> <managed folder>
#   ostrela_host_executable_test.sh --install <build dir> <managed folder>   the installed OstrelaHost
set -euo pipefail
[[ $(id -u) == 0 ]] || { echo "needs root for a private mount namespace: skipped"; exit 0; }
wrap=$(dirname "$(readlink -f "$0")")/../../../support/with_managed_preferences.sh

if [[ ${1:-} == --inside ]]; then
  host=$2 work=$3 fixed=$4
  "$wrap" "$fixed" "$work/managed" "$host" 2>"$work/stderr" &
  pid=$!
  for _ in $(seq 200); do
    if [[ -n ${OSTRELA_HOST_SCRIPTED_BROWSER:-} ]]; then
      grep -qs getStateOfExtension "$work/browser/calls" && break
    elif grep -qs 'Published and read back' "$work/stderr"; then
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

if [[ $1 == --install ]]; then
  fixed=$3
  cmake --install "$2" --component ostrela-host --prefix "$work/prefix" >/dev/null
  host=$work/prefix/bin/OstrelaHost
  for file in share/applications/com.ostrela.safari-extension.desktop \
              share/icons/hicolor/scalable/apps/com.ostrela.safari-extension.svg \
              share/ostrela-host/Main.html share/ostrela-host/Main.ui; do
    [[ -f $work/prefix/$file ]] || fail "not installed: $file"
  done
else
  host=$1 fixed=$2
  export OSTRELA_HOST_SCRIPTED_BROWSER=$work/browser
fi

mkdir -p "$work/browser" "$work/managed" "$work/home" "$work/cache" "$work/data"
chmod 755 "$work" "$work/managed"
echo enabled >"$work/browser/state"
echo '{"organizationId": "org-1", "endpoint": "https://e.example", "machineId": 7}' \
  >"$work/managed/com.ostrela.safari-extension.json"
export HOME=$work/home XDG_CONFIG_HOME=$work/config
export XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
export OSTRELA_LOG_LEVEL=debug GTK_A11Y=none

xvfb-run -a "$0" --inside "$host" "$work" "$fixed" || fail "the host did not run as expected"

if [[ -n ${OSTRELA_HOST_SCRIPTED_BROWSER:-} ]]; then
  [[ $(cat "$work/browser/calls") == "getStateOfExtension com.ostrela.safari-extension.extension" ]] ||
    fail "state queries: $(cat "$work/browser/calls" 2>/dev/null)"
fi
grep -q 'com.ostrela.safari-extension\[managed-config\] debug: Published and read back 1 managed key(s) via the App Group$' \
  "$work/stderr" || fail "no publication line"
suite=$work/config/ostrela/group-containers/K7W2RQ9D4F.group.com.ostrela.safari-extension/preferences.json
[[ $(cat "$suite") == '{"organizationId":"org-1"}' ]] || fail "suite holds $(cat "$suite")"
[[ $(stat -c %a "$suite") == 600 ]] || fail "suite file mode $(stat -c %a "$suite")"
echo "OstrelaHost published, loaded its page and asked for the extension's state"
