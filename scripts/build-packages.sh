#!/usr/bin/env bash
# Builds the Debian packages from the working tree in a temporary copy, so the
# tree stays clean, the standard way (dpkg-buildpackage, which runs the tests
# that a build chroot can run), and puts the .deb files into OUTDIR (default
# out/packages), then runs lintian on them.
#   OSTRELA_CHROME_EXTENSION_IDS / OSTRELA_FIREFOX_EXTENSION_IDS build ids in.
#   DEB_BUILD_OPTIONS=nocheck skips the tests; OSTRELA_BUILD_JOBS (default 2) jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-out/packages}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/ostrela" "$out"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$work/ostrela" 2>/dev/null || true
(cd "$work/ostrela" &&
  DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-} parallel=${OSTRELA_BUILD_JOBS:-2}" dpkg-buildpackage -us -uc -b)
rm -f "$out"/*.deb
cp "$work"/*.deb "$out"/
lintian --fail-on error,warning "$work"/*.changes
ls "$out"
