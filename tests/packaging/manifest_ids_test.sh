#!/bin/sh
# manifest_ids_test.sh TOOL: the manifest tool with a bad line in the ids file.
# Removal (what prerm runs) ignores the ids and removes the manifests; writing
# refuses the line "chrome *" instead of expanding it to the names of files.
set -eu
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
touch bin boot
dirs="--chromium-dir $work/chromium --chrome-dir $work/chrome --firefox-dir $work/firefox"
# shellcheck disable=SC2086
"$tool" $dirs --chrome-id ekfgpjddkkddijfidbnihfiiebjmbofb --firefox-id a@b.example >/dev/null

printf 'chrome bad!id\nfirefox a@b.example\n' >ids
# shellcheck disable=SC2086
"$tool" $dirs --ids-file ids --remove
if ls chromium chrome firefox 2>/dev/null; then echo "FAIL: --remove left manifests"; exit 1; fi

printf 'chrome *\n' >ids
# shellcheck disable=SC2086
if "$tool" $dirs --ids-file ids 2>error; then echo "FAIL: the id * was accepted"; exit 1; fi
grep -qxF 'not an extension id: *' error || { echo "FAIL: unexpected error:"; cat error; exit 1; }
if [ -e chromium ]; then echo "FAIL: a manifest was written"; exit 1; fi
echo "ok"
