#!/usr/bin/env bash
# Installs every Debian package Varnix needs to build, test and run.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build git clang clang-format clang-tidy libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqcustomplot-dev libgl-dev
  qt6-qpa-plugins xvfb xauth x11-apps imagemagick locales python3
  fonts-dejavu-core fonts-liberation fonts-liberation2
  dpkg-dev lintian desktop-file-utils appstream libxml2-utils shared-mime-info man-db groff-base
  xdg-utils util-linux libgsl-dev libcerf-dev libpugixml-dev openbox strace
  qt6-base-private-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The test suite also runs under a decimal-comma locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "setup: generating de_DE.UTF-8"
  if [ -f /etc/locale.gen ]; then
    $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi
