#!/usr/bin/env bash
# Installs every Debian package Tessyn's build, tests and benchmarks need. Idempotent and
# non-interactive; does nothing when everything is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libxkbcommon-dev libvulkan-dev libqt6svg6 qt6-image-formats-plugins libgl-dev
  nlohmann-json3-dev libutf8proc-dev libplist-dev libxcb1-dev libssl-dev libicu-dev
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  xvfb xauth fonts-noto-cjk libglib2.0-bin locales qt6-translations-l10n dbus-daemon
  hyperfine fdupes jdupes rmlint gdu trash-cli findutils time python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
