#!/usr/bin/env bash
# Builds the Debian packages the standard way (dpkg-buildpackage with their
# tests) and tests them as an administrator would see them: with the
# organisation's ids in place, installs both, checks the manifests in every
# system folder of the browser table (browsers/browsers.table), the desktop
# entry and the metainfo, runs ostrela-doctor --json and the headless Chromium
# and Firefox tests against the installed host; then removes the packages with
# a malformed ids file (removal must ignore the ids), purges them and checks
# that nothing of theirs and no manifest is left. Last, a second build with
# reprotest's variations must give the same .deb files (scripts/check-reproducible.sh),
# and that check must catch a planted difference. Needs root (or sudo) and a
# machine without Ostrela installed.
#   scripts/test-packages.sh [DIR]   DIR: already built .deb files to use
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
ids_file=/etc/ostrela/extension-ids
if [[ -e $ids_file ]] || dpkg-query -W ostrela-native-host >/dev/null 2>&1; then
  echo "Ostrela is already set up on this machine; not touching it" >&2
  exit 1
fi
# The system folders the manifests go to: the first system folder of each browser of the
# browser table that has one (what ostrela-native-host-manifests writes).
mapfile -t folders < <(grep -v '^#' browsers/browsers.table |
  awk -F'|' 'NF >= 4 && $4 != "-" { split($4, f, " "); print f[1] }' | sort -u)
if ((${#folders[@]} < 4)); then
  echo "found ${#folders[@]} system manifest folders in browsers/browsers.table; expected at least 4" >&2
  exit 1
fi
out=$(mktemp -d)
lists=$(mktemp -d)
# A run that stops half-way leaves no ids file behind, which would make the next run refuse.
trap 'rm -rf "$out" "$lists"; [[ -n $(dpkg-query -W ostrela-native-host 2>/dev/null) ]] ||
      $sudo rm -f $ids_file' EXIT
if [[ -n ${1:-} ]]; then cp "$1"/ostrela-*.deb "$out"; else scripts/build-packages.sh "$out"; fi

fail=0
check() { if eval "$2"; then echo "ok    $1"; else echo "FAIL  $1"; fail=1; fi; }
host=/usr/libexec/ostrela/OstrelaExtension
names=(com.ostrela.ldap_host com.ostrela.redaction_host)

absent=()
for folder in "${folders[@]}"; do [[ -e $folder ]] || absent+=("$folder"); done

# The organisation's ids are in place before the packages, as a fleet tool would do it.
$sudo install -d -m 0755 /etc/ostrela
printf 'chrome ekfgpjddkkddijfidbnihfiiebjmbofb\nfirefox native-test@ostrela.example\n' |
  $sudo tee $ids_file >/dev/null
# apt waits for a lock that another install holds, rather than failing at once.
apt=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y)
(cd "$out" && $sudo "${apt[@]}" install \
  ./ostrela-native-host_*.deb ./ostrela-host_*.deb)
for package in ostrela-native-host ostrela-host; do dpkg -L $package >"$lists/$package"; done
for folder in "${folders[@]}"; do
  for name in "${names[@]}"; do
    check "$folder/$name.json names the installed host" \
      "grep -qF '\"path\": \"$host\"' $folder/$name.json"
  done
done
check "the metainfo validates" \
  "appstreamcli validate --no-net /usr/share/metainfo/com.ostrela.safari-extension.metainfo.xml"
check "the desktop entry validates" \
  "desktop-file-validate /usr/share/applications/com.ostrela.safari-extension.desktop"
# Every line of the doctor's about the system manifests and the installed host is ok,
# and the host it started answered.
# shellcheck disable=SC2317  # called through check's eval
doctor_is_content() {
  { ostrela-doctor --json || true; } | python3 -c '
import json, sys
checks = json.load(sys.stdin)["checks"]
mine = [c for c in checks if c["text"].startswith(tuple(sys.argv[1:]))]
bad = [c for c in mine if c["state"] != "ok"]
answered = [c for c in checks if c["state"] == "ok" and "round trip answered" in c["text"]]
for c in bad: print("      " + c["state"] + ": " + c["text"])
sys.exit(0 if mine and answered and not bad else 1)' "$host" "${folders[@]}"
}
check "ostrela-doctor --json: the system manifests, the installed host answers" doctor_is_content
# The policy file goes to the fixed folder, on a private mount so the real /etc is untouched.
for browser in chromium firefox; do
  check "the $browser test against the installed host" \
    "$sudo unshare --mount --propagation private sh -c '
       mount -t tmpfs -o mode=0755 ostrela-test /etc/ostrela &&
       python3 tests/e2e/browser_test.py --browser $browser --installed \
               --managed-dir /etc/ostrela/managed-preferences'"
done

# A malformed line in the ids file must not keep the manifests, nor a glob expand.
printf 'chrome bad!id\nchrome *\n' | $sudo tee $ids_file >/dev/null
check "removal with a malformed ids file succeeds" \
  "$sudo ${apt[*]} remove ostrela-host ostrela-native-host"
for folder in "${folders[@]}"; do
  check "removing took the manifests from $folder" "! ls $folder/com.ostrela.* 2>/dev/null"
done
for folder in "${absent[@]}"; do
  check "removing took $folder, made by the installation" "[[ ! -e $folder ]]"
done
$sudo rm -f $ids_file
$sudo rmdir /etc/ostrela
# dpkg, as apt no longer knows packages that left no conffiles behind.
$sudo dpkg --purge ostrela-host ostrela-native-host
left=$(cat "$lists"/ostrela-* | while read -r path; do
  if [[ -d $path && ! -L $path ]]; then [[ $path == *ostrela* ]] && echo "$path"
  elif [[ -e $path || -L $path ]]; then echo "$path"; fi
done)
check "purging left none of the packages' files${left:+: $left}" "[[ -z \"$left\" ]]"

check "a build with reprotest's variations gives the same .deb files" \
  "$sudo scripts/check-reproducible.sh --control '$out' '$lists/reproducible' >'$lists/reprotest.log' 2>&1 ||
   { tail -n 60 '$lists/reprotest.log'; cat '$lists'/reproducible/*.diffoscope.out 2>/dev/null | head -n 200; false; }"
check "the reproducibility check catches a planted build path" "$sudo scripts/check-reproducible.sh --planted"
exit $fail
