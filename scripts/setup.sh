#!/usr/bin/env bash
# Installs the Debian packages that building and testing Zuv need, only those that are missing.
# Usage: scripts/setup.sh [build|test|fuzz]
set -euo pipefail

build_packages=(g++ cmake ninja-build make pkg-config libssl-dev libcurl4-openssl-dev libgdk-pixbuf-2.0-dev libgif-dev
                libgtk-3-dev libcairo2-dev libpango1.0-dev)
# The GUI tests run under Xvfb with pinned fonts, driven by xdotool and screenshotted.
test_packages=(googletest libgtest-dev libgmock-dev python3 xvfb xauth xdotool fonts-dejavu-core imagemagick)
# The fuzz targets need these (built by make fuzz-ci, which CI runs after the tests).
fuzz_packages=(clang libclang-rt-dev)

want=("${build_packages[@]}")
case "${1:-build}" in
  test) want+=("${test_packages[@]}") ;;
  fuzz) want+=("${test_packages[@]}" "${fuzz_packages[@]}") ;;
esac

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
