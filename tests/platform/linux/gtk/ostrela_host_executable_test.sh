#!/usr/bin/env bash
# Installs OstrelaHost into a temporary prefix and runs it under Xvfb, with
# forced preferences in a private mount namespace (root only): it publishes the
# forced configuration, finds its installed resources, shows its window (a
# missing page ends it instead) and quits cleanly on SIGTERM.
# With "full-journal", its stderr is named as the journal's stream, the journal's
# socket is one that nobody reads, its queue full, and the App Group is
# unavailable: the error line must hold up neither the window nor SIGTERM.
#   ostrela_host_executable_test.sh <build dir> <managed folder> [full-journal]
set -euo pipefail
[[ $(id -u) == 0 ]] || { echo "needs root for a private mount namespace: skipped"; exit 0; }
wrap=$(dirname "$(readlink -f "$0")")/../../../support/with_managed_preferences.sh

if [[ ${1:-} == --with-full-journal ]]; then
  # Inside the mount namespace; the host then takes this shell's place.
  journal=/run/systemd/journal
  [[ -d $journal ]] && mount -t tmpfs tmpfs $journal || { mount -t tmpfs tmpfs /run; mkdir -p $journal; }
  # Binds the socket, fills its queue, says so, and holds it until its parent (the host) goes.
  read -r queued < <(perl -MSocket -e '$a = pack_sockaddr_un(shift); $p = getppid; $| = 1;
    socket(J, AF_UNIX, SOCK_DGRAM, 0) && bind(J, $a) && socket(S, AF_UNIX, SOCK_DGRAM, 0) or die;
    $n++ while send(S, "MESSAGE=filler\n", MSG_DONTWAIT, $a); print "$n\n";
    select(undef, undef, undef, 0.2) while getppid == $p' $journal/socket)
  [[ ${queued:-0} -gt 0 ]] || { echo "the journal socket could not be filled" >&2; exit 1; }
  JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec "$2"
fi

if [[ ${1:-} == --inside ]]; then
  host=$2 work=$3 fixed=$4 mode=$5
  window() { xwininfo -name Ostrela 2>/dev/null | grep -q IsViewable; }
  [[ $mode == full-journal ]] && set -- "$0" --with-full-journal "$host" || set -- "$host"
  "$wrap" "$fixed" "$work/managed" "$@" 2>"$work/stderr" &
  pid=$!
  # Publication comes first, then the window, once the page has been found (a missing one ends
  # the host): waiting for the window is waiting for both.
  for _ in $(seq 200); do window || ! kill -0 "$pid" 2>/dev/null && break; sleep 0.1; done
  window || { echo "OstrelaHost showed no window"; mode=failed; }
  if ! kill -TERM "$pid" 2>/dev/null; then
    wait "$pid" && status=0 || status=$?
    echo "OstrelaHost ended by itself with status $status"; exit 1
  fi
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -KILL "$pid" 2>/dev/null; then echo "OstrelaHost ignored SIGTERM for 10 s"; exit 1; fi
  wait "$pid" && status=0 || status=$?
  [[ $status == 0 ]] || { echo "OstrelaHost quit with status $status on SIGTERM"; exit 1; }
  [[ $mode != failed ]]; exit
fi

work=$(mktemp -d)
# WebKit's helper processes may still be writing their caches for a moment after the host quits.
trap 'for _ in 1 2 3 4 5; do rm -rf "$work" 2>/dev/null && break; sleep 0.5; done' EXIT
fail() { echo "FAIL: $*"; echo "--- stderr"; cat "$work/stderr" 2>/dev/null; exit 1; }

fixed=$2 mode=${3:-plain}
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
if [[ $mode == full-journal ]]; then
  # A file where the App Group's folders go: an error line at the default level.
  mkdir -p "$work/config/ostrela" && touch "$work/config/ostrela/group-containers"
else
  export OSTRELA_LOG_LEVEL=debug
fi

"$(dirname "$0")/with_display.sh" "$0" --inside "$host" "$work" "$fixed" "$mode" || fail "the host did not run as expected"

if [[ $mode == full-journal ]]; then
  grep -q 'com.ostrela.safari-extension\[managed-config\] error: Managed configuration not published: the App Group K7W2RQ9D4F.group.com.ostrela.safari-extension is unavailable$' \
    "$work/stderr" || fail "the error line did not reach stderr"
  echo "OstrelaHost showed its window and quit on SIGTERM with the journal full"; exit 0
fi
grep -q 'com.ostrela.safari-extension\[managed-config\] debug: Published and read back 1 managed key(s) via the App Group$' \
  "$work/stderr" || fail "no publication line"
source "$(dirname "$0")/../../../../scripts/app_group.sh"
suite=$work/config/$app_group_file
[[ $(cat "$suite") == '{"organizationId":"org-1"}' ]] || fail "suite holds $(cat "$suite")"
echo "OstrelaHost published and ran with its page"
