#!/usr/bin/env bash
# Builds the Debian packages, installs them on this machine, runs the headless
# Chromium test against the installed host (the system manifests and the
# packaged executable), then removes and purges them and checks that nothing of
# theirs is left. Needs root (or sudo) and a machine without Ostrela installed.
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
out=$(mktemp -d)
lists=$(mktemp -d)
trap 'rm -rf "$out" "$lists"' EXIT
if [[ -n ${1:-} ]]; then cp "$1"/ostrela-*.deb "$out"; else scripts/build-packages.sh "$out"; fi

fail=0
check() { if eval "$2"; then echo "ok    $1"; else echo "FAIL  $1"; fail=1; fi; }
manifests=(/etc/chromium/native-messaging-hosts /etc/opt/chrome/native-messaging-hosts
           /usr/lib/mozilla/native-messaging-hosts)

# The organisation's ids are in place before the packages, as a fleet tool would do it.
$sudo install -d -m 0755 /etc/ostrela
printf 'chrome ekfgpjddkkddijfidbnihfiiebjmbofb\nfirefox native-test@ostrela.example\n' |
  $sudo tee $ids_file >/dev/null
(cd "$out" && $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y ./*.deb)
for package in ostrela-native-host ostrela-host; do dpkg -L $package >"$lists/$package"; done
for folder in "${manifests[@]}"; do
  check "$folder names the packaged host" \
    "grep -q '\"path\": \"/usr/libexec/ostrela/OstrelaExtension\"' $folder/com.ostrela.ldap_host.json"
done
check "ostrela-doctor finds the system manifest and its host answers" \
  "{ ostrela-doctor || true; } | grep -A1 -F '/etc/chromium/native-messaging-hosts/com.ostrela.ldap_host.json allows' |
   grep -qF 'round trip answered'"
# The policy file goes to the fixed folder, on a private mount so the real /etc is untouched.
$sudo unshare --mount --propagation private sh -c '
  mount -t tmpfs -o mode=0755 ostrela-test /etc/ostrela &&
  python3 tests/e2e/browser_test.py --browser chromium --installed \
          --managed-dir /etc/ostrela/managed-preferences' || fail=1

$sudo apt-get remove -y ostrela-host ostrela-native-host
for folder in "${manifests[@]}"; do
  check "removing took the manifests from $folder" "! ls $folder/com.ostrela.* 2>/dev/null"
done
$sudo rm -f $ids_file
$sudo rmdir /etc/ostrela
# dpkg, as apt no longer knows packages that left no conffiles behind.
$sudo dpkg --purge ostrela-host ostrela-native-host
left=$(cat "$lists"/* | while read -r path; do
  if [[ -d $path && ! -L $path ]]; then [[ $path == *ostrela* ]] && echo "$path"
  elif [[ -e $path || -L $path ]]; then echo "$path"; fi
done)
check "purging left none of the packages' files${left:+: $left}" "[[ -z \"$left\" ]]"
exit $fail
