#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and the demonstration need.
set -euo pipefail
# --build-only: just what building the extension and running the demonstration need.
packages=(build-essential cmake ninja-build pkg-config lld libboost1.81-dev libutf8proc-dev libseccomp-dev python3)
if [[ "${1:-}" != "--build-only" ]]; then
  packages+=(clang clang-format libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
             libgtk-4-dev libwebkitgtk-6.0-dev xvfb xauth x11-utils chromium firefox-esr
             dbus-daemon at-spi2-core gir1.2-atspi-2.0 python3-gi xdotool
             debhelper dpkg-dev lintian fakeroot bindfs appstream desktop-file-utils
             reprotest diffoscope-minimal disorderfs faketime locales-all
             ansible-core python3-apt)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
