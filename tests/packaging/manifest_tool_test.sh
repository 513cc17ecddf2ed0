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
run() {  # home arguments...
  run_home=$1; shift
  HOME="$run_home" XDG_CONFIG_HOME="" "$tool" --executable /usr/bin/true \
    --chrome-id abcdefghijklmnopabcdefghijklmnop --firefox-id ostrela@example.com "$@" \
    >/dev/null 2>"$work/stderr"
}
manifests_in() {  # folder
  [ "$(stat -c %a "$1/com.ostrela.ldap_host.json")" = 644 ] &&
    grep -q '"path": "/usr/bin/true"' "$1/com.ostrela.redaction_host.json"
}

home="$work/home"
mkdir -p "$home"
run "$home" --user
for folder in .config/chromium .config/google-chrome .config/microsoft-edge \
    .config/BraveSoftware/Brave-Browser .config/vivaldi; do
  check "per-user $folder" manifests_in "$home/$folder/NativeMessagingHosts"
done
check "per-user Firefox, with add-on ids" grep -q '"allowed_extensions": \["ostrela@example.com"\]' \
  "$home/.mozilla/native-messaging-hosts/com.ostrela.ldap_host.json"
run "$work" --root "$work/root"
for folder in etc/chromium etc/opt/chrome etc/opt/edge usr/lib/mozilla; do
  check "system $folder" manifests_in "$work/root/$folder/native-messaging-hosts"
done
check "no stray temporary files" test -z "$(find "$work/root" "$home" -name '.*.json.*')"
printf 'chrome bad!id\nchrome *\n' > "$work/bad-ids"
check "--remove ignores a bad ids file" run "$work" --root "$work/root" --remove \
  --ids-file "$work/bad-ids"
check "--remove leaves no folder" test -z "$(ls -A "$work/root/etc/opt")"
# An id line "chrome *" is one bad id, never the names of the files where the tool runs.
printf 'chrome *\n' > "$work/star-ids"
touch "$work/bin" "$work/boot"
! (cd "$work" && "$tool" --root "$work/star" --ids-file "$work/star-ids" 2>"$work/stderr") ||
  check "an id * is refused" false
check "an id * is refused, not expanded" grep -qF "not an extension id: *" "$work/stderr"

# Links planted where the tool writes: what they lead to stays as it was.
echo "root only" > "$work/secret"
chmod 600 "$work/secret"
rm -f "$home/.config/chromium/NativeMessagingHosts"/*
ln -s "$work/secret" "$home/.config/chromium/NativeMessagingHosts/com.ostrela.ldap_host.json.tmp"
run "$home" --user
check "a planted temporary link is not written through" \
  test "$(cat "$work/secret")-$(stat -c %a "$work/secret")" = "root only-600"
mkdir "$work/elsewhere"
rm -rf "$home/.config/vivaldi/NativeMessagingHosts"
ln -s "$work/elsewhere" "$home/.config/vivaldi/NativeMessagingHosts"
! run "$home" --user || check "a folder that is a link is refused" false
check "a folder that is a link is refused" grep -q "is a symbolic link" "$work/stderr"
check "... and nothing is written through it" test -z "$(ls -A "$work/elsewhere")"

if [ "$(id -u)" = 0 ]; then
  mkdir "$work/other"
  chown 4242:4242 "$work/other"
  ! run "$work/other" --user || check "root refuses another account's home" false
  check "root refuses another account's home" grep -q "belongs to uid 4242" "$work/stderr"
  check "... and writes nothing there" test -z "$(ls -A "$work/other")"
  mkdir -m 0777 "$work/open" "$work/planted"
  ! run "$work/open" --user || check "root refuses a home that others can write" false
  check "root refuses a home that others can write" grep -q "open: it is writable by group" \
    "$work/stderr"
  ln -s "$work/elsewhere" "$work/planted/.mozilla"
  chmod 755 "$work/planted"
  ! run "$work/planted" --user || check "root refuses a link below the home" false
  check "root refuses a link below the home" grep -q "planted/.mozilla: it is a symbolic link" \
    "$work/stderr"
  check "... and writes nothing through it" test -z "$(ls -A "$work/elsewhere")"
fi

check "--help prints the usage only" sh -c '"$0" --help | head -1 | grep -q "^usage:" &&
  ! "$0" --help | grep -q "set -e"' "$tool"
[ "$failures" = 0 ]
