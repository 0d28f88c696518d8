#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo server need, when missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-svg-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  libgl-dev fonts-dejavu-core
  dbus dbus-daemon
  python3 python3-pyftpdlib python3-openssl
  libssl-dev openssl
  qtkeychain-qt6-dev gnome-keyring
  clang libclang-rt-14-dev
)
if [ "${ZODARU_BENCH_DEPS:-0}" = 1 ]; then
  packages+=(vsftpd curl lftp)
fi
# Building the Debian package (cpack -G DEB): dpkg-shlibdeps for the Depends line, file to
# find the binaries it reads.
if [ "${ZODARU_PACKAGING_DEPS:-0}" = 1 ]; then
  packages+=(dpkg-dev file)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
