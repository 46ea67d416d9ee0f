#!/usr/bin/env bash
# Installs what Trelvik needs on Debian 12; does nothing when it is all there.
#   install-deps.sh            what building and running need
#   install-deps.sh --test     and what the tests need: among them the Dovecot
#                              POP3, IMAP and ManageSieve servers, of which the tests start private
#                              instances; the system's own Dovecot service a
#                              fresh install brings is left stopped and disabled
#   install-deps.sh --package  and what building and checking the .deb needs
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-qpa-plugins
  libgl-dev libxkbcommon-dev
  libsqlcipher-dev
  libgmime-3.0-dev
  # header digests (libcrypto) and packed header blocks (Zstandard)
  libssl-dev libzstd-dev
  # keyring: QtKeychain and the libsecret it loads
  qtkeychain-qt6-dev libsecret-1-0
)
test_packages=(
  xvfb xauth
  dbus dbus-daemon python3
  dovecot-core dovecot-pop3d dovecot-imapd openssl
  # Sieve: the rule script's agreement test (sieve-test) and the ManageSieve tests
  dovecot-sieve dovecot-managesieved
  # the keyring daemon of the tests
  gnome-keyring
  # CI checks the code against .clang-format
  clang-format
)
package_packages=(
  # scripts/package: the .deb and its checks
  dpkg-dev file lintian appstream desktop-file-utils man-db binutils
)

for arg in "$@"; do
  case "$arg" in
    --test) packages+=("${test_packages[@]}") ;;
    --package) packages+=("${package_packages[@]}") ;;
    *) echo "install-deps: unknown option $arg (use --test or --package)" >&2; exit 2 ;;
  esac
done

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=(sudo)
  else
    echo "install-deps: these packages are missing and I am not root: ${missing[*]}" >&2
    exit 1
  fi
fi
# sudo drops the environment: the variable goes on the command itself.
as_root() {
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive "$@"
}

new_dovecot=false
for p in "${missing[@]}"; do
  # any Dovecot package: the IMAP one restarts the service when added later
  case "$p" in dovecot-*) new_dovecot=true ;; esac
done

# A Dovecot installed for the tests must not serve the network, not even
# for the moment between its installation and the disabling below: a
# policy-rc.d that refuses every start keeps the packages from starting it.
# One that is already there (as in many containers) is left alone.
policy=/usr/sbin/policy-rc.d
own_policy=false
cleanup() {
  if $own_policy; then as_root rm -f "$policy"; fi
}
trap cleanup EXIT
if $new_dovecot && ! as_root test -e "$policy"; then
  printf '#!/bin/sh\n# Written by Trelvik'"'"'s install-deps.sh while it installs packages.\nexit 101\n' \
    | as_root tee "$policy" >/dev/null
  as_root chmod 755 "$policy"
  own_policy=true
fi

echo "install-deps: installing ${missing[*]}"
as_root apt-get update -qq
as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"

if $new_dovecot; then
  if [ -d /run/systemd/system ] && command -v systemctl >/dev/null 2>&1; then
    as_root systemctl disable --now dovecot.service dovecot.socket >/dev/null 2>&1 || true
  else
    # No systemd running: the init script's links, and a copy a start
    # without the policy above may have begun.
    as_root update-rc.d dovecot disable >/dev/null 2>&1 || true
    as_root invoke-rc.d dovecot stop >/dev/null 2>&1 || true
  fi
  # Disabled for systemd too, for the next boot with it.
  if command -v systemctl >/dev/null 2>&1; then
    as_root systemctl disable dovecot.service dovecot.socket >/dev/null 2>&1 || true
  fi
  echo "install-deps: the system's own Dovecot service is stopped and disabled; the tests start private instances"
fi
