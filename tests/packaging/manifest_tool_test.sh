#!/bin/sh
# ostrela-native-host-manifests on a fake home and a fake root: every browser's
# folder gets both manifests, and as root the tool never writes through a link
# that another account could have planted, nor into another account's home.
# Usage: manifest_tool_test.sh TOOL
set -eu
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # description command...
  description=$1; shift
  if "$@"; then echo "ok    $description"; else echo "FAIL  $description"; failures=$((failures + 1)); fi
}
id=abcdefghijklmnopabcdefghijklmnop
run() {  # home arguments...
  run_home=$1; shift
  HOME="$run_home" XDG_CONFIG_HOME="" "$tool" --executable /usr/bin/true --chrome-id $id \
    --firefox-id ostrela@example.com "$@" >/dev/null 2>"$work/stderr"
}
manifests_in() {  # folder
  [ "$(stat -c %a "$1/com.ostrela.ldap_host.json")" = 644 ] &&
    grep -q '"path": "/usr/bin/true"' "$1/com.ostrela.redaction_host.json"
}

# Each browser's per-user folder, and each system folder under a root.
home="$work/home"
mkdir -p "$home"
run "$home" --user
for folder in .config/chromium/NativeMessagingHosts .config/google-chrome/NativeMessagingHosts \
    .config/microsoft-edge/NativeMessagingHosts \
    .config/BraveSoftware/Brave-Browser/NativeMessagingHosts \
    .config/vivaldi/NativeMessagingHosts .mozilla/native-messaging-hosts; do
  check "per-user $folder" manifests_in "$home/$folder"
done
grep -q '"allowed_extensions": \["ostrela@example.com"\]' \
  "$home/.mozilla/native-messaging-hosts/com.ostrela.ldap_host.json" ||
  check "Firefox lists extension ids" false
run "$work" --root "$work/root"
for folder in etc/chromium etc/opt/chrome etc/opt/edge; do
  check "system $folder" manifests_in "$work/root/$folder/native-messaging-hosts"
done
check "system Firefox" manifests_in "$work/root/usr/lib/mozilla/native-messaging-hosts"
check "no stray temporary files" test -z "$(find "$work/root" "$home" -name '.*.json.*')"
printf 'chrome bad!id\nchrome *\n' > "$work/bad-ids"
check "--remove ignores a bad ids file" run "$work" --root "$work/root" --remove \
  --ids-file "$work/bad-ids"
check "--remove leaves no folder" test -z "$(ls -A "$work/root/etc/opt")"

# Links planted where the tool writes: the files they lead to stay as they were.
secret="$work/secret"
echo "root only" > "$secret"
chmod 600 "$secret"
chromium="$home/.config/chromium/NativeMessagingHosts"
rm -f "$chromium"/*
ln -s "$secret" "$chromium/com.ostrela.ldap_host.json.tmp"
run "$home" --user
check "a planted temporary link is not written through" \
  test "$(cat "$secret")-$(stat -c %a "$secret")" = "root only-600"
mkdir "$work/elsewhere"
rm -rf "$home/.config/vivaldi/NativeMessagingHosts"
ln -s "$work/elsewhere" "$home/.config/vivaldi/NativeMessagingHosts"
if run "$home" --user; then check "a folder that is a link is refused" false; fi
check "a folder that is a link is refused" grep -q "is a symbolic link" "$work/stderr"
check "... and nothing is written through it" test -z "$(ls -A "$work/elsewhere")"

# As root, another account's home is refused.
if [ "$(id -u)" = 0 ]; then
  other="$work/other"
  mkdir -p "$other"
  chown 4242:4242 "$other"
  if run "$other" --user; then check "root refuses another account's home" false; fi
  check "root refuses another account's home" grep -q "belongs to uid 4242" "$work/stderr"
  check "... and writes nothing there" test -z "$(ls -A "$other")"
fi

check "--help prints the usage only" sh -c '"$0" --help | head -1 | grep -q "^usage:" &&
  ! "$0" --help | grep -q "set -e"' "$tool"
[ "$failures" = 0 ]
