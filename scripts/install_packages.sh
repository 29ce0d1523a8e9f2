#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
# Runs as root (apt-get); does nothing when everything is already there.
# Extra packages a script needs for itself are given as arguments.
set -euo pipefail

packages=(
  g++ make cmake libpng-dev zlib1g-dev
  libgtest-dev libbenchmark-dev libcli11-dev
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
  fonts-dejavu-core fonts-dejavu-extra
  python3-dev pybind11-dev python3-numpy python3-pandas python3-distributed python3-pytest
  python3-scipy python3-matplotlib python3-cryptography openssl parallel
  python3-xarray python3-zarr python3-sphinx python3-numpydoc python3-myst-parser black flake8
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
