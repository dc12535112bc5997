#!/usr/bin/env bash
# Installs the Debian packages DeZedodiru needs to build and test, when they
# are missing. Runs apt-get update at most once. Uses sudo when not root.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  zlib1g-dev libdeflate-dev libpcre2-dev libblkid-dev gettext
  e2fsprogs dosfstools util-linux
  gzip unzip zip p7zip-full libarchive-tools python3 time rsync
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-svg-dev qt6-l10n-tools
  xvfb xauth trayer xdotool x11-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
