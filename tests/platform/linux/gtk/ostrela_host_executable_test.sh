#!/usr/bin/env bash
# Runs the real OstrelaHost under Xvfb with the scripted browser integration
# (OSTRELA_HOST_SCRIPTED_BROWSER) and checks that it publishes the forced
# configuration, finds its resources, loads its page and asks for the
# extension's state, and that it quits cleanly on SIGTERM.
#   ostrela_host_executable_test.sh <OstrelaHost>            run that program
#   ostrela_host_executable_test.sh --install <build dir>    install first, run the installed one
set -euo pipefail

if [[ ${1:-} == --inside ]]; then
  host=$2 work=$3
  "$host" 2>"$work/stderr" &
  pid=$!
  for _ in $(seq 200); do
    grep -qs getStateOfExtension "$work/browser/calls" && break
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
  cmake --install "$2" --component ostrela-host --prefix "$work/prefix" >/dev/null
  host=$work/prefix/bin/OstrelaHost
  for file in share/applications/com.ostrela.safari-extension.desktop \
              share/icons/hicolor/scalable/apps/com.ostrela.safari-extension.svg \
              share/ostrela-host/Main.html share/ostrela-host/Main.ui; do
    [[ -f $work/prefix/$file ]] || fail "not installed: $file"
  done
else
  host=$1
fi

mkdir -p "$work/browser" "$work/etc/ostrela/managed-preferences" "$work/home" "$work/cache" "$work/data"
echo enabled >"$work/browser/state"
echo '{"organizationId": "org-1", "endpoint": "https://e.example", "machineId": 7}' \
  >"$work/etc/ostrela/managed-preferences/com.ostrela.safari-extension.json"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/etc
export XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
export OSTRELA_LOG_LEVEL=debug OSTRELA_HOST_SCRIPTED_BROWSER=$work/browser GTK_A11Y=none

xvfb-run -a "$0" --inside "$host" "$work" || fail "the host did not run as expected"

[[ $(cat "$work/browser/calls") == "getStateOfExtension com.ostrela.safari-extension.extension" ]] ||
  fail "state queries: $(cat "$work/browser/calls" 2>/dev/null)"
grep -q 'com.ostrela.safari-extension\[managed-config\] debug: Published and read back 1 managed key(s) via the App Group$' \
  "$work/stderr" || fail "no publication line"
suite=$work/config/ostrela/group-containers/K7W2RQ9D4F.group.com.ostrela.safari-extension/preferences.json
[[ $(cat "$suite") == '{"organizationId":"org-1"}' ]] || fail "suite holds $(cat "$suite")"
[[ $(stat -c %a "$suite") == 600 ]] || fail "suite file mode $(stat -c %a "$suite")"
echo "OstrelaHost published, loaded its page and asked for the extension's state"
