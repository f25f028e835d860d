#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need,
# when any of them is missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev
          libbenchmark-dev libsqlite3-dev libfreetype-dev libfontconfig-dev fonts-dejavu-core
          libx11-dev libxtst-dev libpng-dev fonts-liberation xvfb
          libgcab-dev gcab cabextract  # the handheld's cabinets: written, listed, unpacked
          clang libclang-rt-14-dev  # clang and its libFuzzer: fuzz/run.sh only
          valgrind                  # callgrind: bench/count-instructions.sh only
          ccache                    # repeated builds
          gpsd gpsd-clients         # the simulator tested against gpsd
          help2man                  # the manual pages
          dpkg-dev file lintian     # the Debian package: scripts/package.sh
          g++-mingw-w64-x86-64      # the Windows build, and windres for the resources
          wine wine64)              # the viewer for Windows run under Wine
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
