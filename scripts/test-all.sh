#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test: the release
# build with warnings as errors (unit, process, browser and window tests), the
# AddressSanitizer + UndefinedBehaviorSanitizer build, and the ThreadSanitizer
# build of the concurrency tests, and a bounded libFuzzer run of every fuzz
# target; the Debian packages, built the standard way, installed by the
# Ansible role, tested, removed and rebuilt with reprotest's variations. Also
# checks the formatting.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh

start=$SECONDS
stage() { echo; echo "=== $1 ($((SECONDS - start)) s)"; }

stage "clang-format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

stage "release build, warnings as errors"
cmake --preset ci >/dev/null
cmake --build --preset ci
ctest --preset ci -j2

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 ctest --preset asan -j2

stage "ThreadSanitizer: concurrency and process tests, repeated"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan -j2 --repeat until-fail:3

stage "Debian packages: standard build with tests, lintian, the Ansible role (install, idempotence, doctor report), browser tests on the installed host, removal, reproducibility"
scripts/test-packages.sh

stage "fuzzing: libFuzzer with clang, ASan and UBSan, a bounded run per target"
scripts/fuzz.sh "${OSTRELA_FUZZ_SECONDS:-30}"

stage "done"
