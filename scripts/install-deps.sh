#!/usr/bin/env bash
# Installs what Trelvik needs to build, run and test on Debian 12.
# Does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-qpa-plugins
  libgl-dev libxkbcommon-dev
  libsqlcipher-dev
  libgmime-3.0-dev
  xvfb xauth
  dbus dbus-daemon python3
  dovecot-core dovecot-pop3d openssl
  # keyring: QtKeychain, the libsecret it loads, the keyring daemon of the tests
  qtkeychain-qt6-dev libsecret-1-0 gnome-keyring
  # scripts/package: the .deb and its checks
  dpkg-dev file lintian appstream desktop-file-utils man-db binutils
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

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
  else
    echo "install-deps: these packages are missing and I am not root: ${missing[*]}" >&2
    exit 1
  fi
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
