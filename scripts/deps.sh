#!/usr/bin/env bash
# Installs the Debian packages Tarven needs to build, run and test, skipping
# those already present. Safe to run again; uses sudo when not root.
# Further package names given as arguments are installed the same way.
set -euo pipefail

packages=(build-essential cmake pkg-config libwxgtk3.2-dev libgtk-3-dev libgtest-dev
          libbenchmark-dev xvfb xauth clang libclang-rt-dev
          libcairo2-dev libpango1.0-dev libpng-dev fonts-dejavu-core openbox
          poppler-utils librsvg2-bin libjs-leaflet chromium
          libtinyxml2-dev nlohmann-json3-dev zlib1g-dev libzstd-dev libglib2.0-dev tiled libnoise-dev libgdal-dev "$@")
# The compiler cache, which the test, fuzz and package scripts use when present.
packages+=(ccache)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
