#!/usr/bin/env bash
# Builds the Debian packages twice with reprotest (nocheck: the tests change no
# file of the packages), the second build with another build path, time, umask,
# locale, time zone, file order (disorderfs), home, kernel version, PATH, host
# and domain name, environment and address-space layout, and fails if one .deb
# differs; diffoscope's report of the difference goes to OUTDIR (default
# out/reproducible). Needs root for the file-order and host-name variations.
# No compiler cache: it would hand the second build the first one's objects.
#   scripts/check-reproducible.sh [--control DIR] [OUTDIR]
#       --control DIR: the .deb files of a build already made (such as the
#       standard build of scripts/build-packages.sh, with its tests) take the
#       place of the first build, so only the varied build is made
#   scripts/check-reproducible.sh --planted   the check fails on a package with
#                                             its build path compiled in
set -euo pipefail
cd "$(dirname "$0")/.."
variations=build_path,time,umask,locales,timezone,fileordering,home,kernel,exec_path,domain_host,environment,aslr
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source="$work/source"
mkdir "$source"

reprotest_packages() {  # OUTDIR [REPROTEST-OPTION...]
  rm -rf "$1"
  mkdir -p "$(dirname "$1")"
  env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER -u CCACHE_DIR \
    reprotest --vary=-all,+"${variations//,/,+}" --min-cpus="$(nproc)" --store-dir="$1" "${@:2}" \
      --build-command "DEB_BUILD_OPTIONS='nocheck parallel=$(nproc)' dpkg-buildpackage -us -uc -b" \
      "$source" '../*.deb' -- null
}

if [[ ${1:-} == --planted ]]; then
  # A package with the build path compiled in, past the flags that map it away.
  mkdir "$source/debian"
  cat >"$source/debian/control" <<'CONTROL'
Source: planted
Section: misc
Priority: optional
Maintainer: Ostrela native team <native@ostrela.example>
Build-Depends: debhelper-compat (= 13)
Standards-Version: 4.6.2
Rules-Requires-Root: no

Package: planted
Architecture: any
Depends: ${shlibs:Depends}, ${misc:Depends}
Description: build path compiled in
 Planted difference for the check of reproducible packages.
CONTROL
  printf 'planted (1) unstable; urgency=medium\n\n  * Planted.\n\n -- Ostrela native team <native@ostrela.example>  Mon, 07 Dec 2026 00:00:00 +0000\n' \
    >"$source/debian/changelog"
  printf '#include <stdio.h>\nint main(void) { return puts(BUILD_DIR) < 0; }\n' >"$source/planted.c"
  # shellcheck disable=SC2016
  printf '#!/usr/bin/make -f\n%%:\n\tdh $@\noverride_dh_auto_build:\n\t$(CC) $(CFLAGS) $(LDFLAGS) -DBUILD_DIR=\\"$(CURDIR)\\" -o planted planted.c\noverride_dh_auto_install:\n\tinstall -D planted debian/planted/usr/bin/planted\n' \
    >"$source/debian/rules"
  chmod +x "$source/debian/rules"
  if reprotest_packages "$work/store" >"$work/log" 2>&1; then
    cat "$work/log"
    echo "FAIL  reprotest found no difference in a package with its build path compiled in"
    exit 1
  fi
  if ! grep -q "build-experiment-1" "$work/store/"*.diffoscope.out 2>/dev/null; then
    cat "$work/log"
    echo "FAIL  reprotest failed without a report of the difference"
    exit 1
  fi
  echo "ok    reprotest finds the build path compiled into a planted package"
  exit 0
fi

control=()
if [[ ${1:-} == --control ]]; then
  # Laid out as reprotest stores a build of its own: the files beside an empty source-root.
  mkdir -p "$work/control/source-root"
  cp "$2"/*.deb "$work/control/"
  control=(--control-build "$work/control")
  shift 2
fi
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$source"
out=$(realpath -m "${1:-out/reproducible}")
start=$SECONDS
reprotest_packages "$out" "${control[@]}"
echo "reproducible with $variations; $((SECONDS - start)) s for $(( ${#control[@]} ? 1 : 2 )) build(s)"
