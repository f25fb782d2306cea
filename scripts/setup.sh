#!/usr/bin/env bash
# Installs everything the build, the tests and the demonstration need on Debian 12.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libssl-dev openssl
  python3 python3-aiosmtpd
  dnsmasq-base
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql
  mdbtools mdbtools-dev libfreexl-dev
  libzip-dev libexpat1-dev libxlsxwriter-dev python3-openpyxl
  dovecot-pop3d
  procps iproute2
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n xvfb xauth fonts-noto-cjk
  libfmt-dev adwaita-icon-theme xdotool
  media-types
  libemail-mime-perl libencode-eucjpms-perl mpack ripmime spamassassin
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
# No service may start by itself while packages install: the tests start their own
# servers on loopback with private configurations.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod +x /usr/sbin/policy-rc.d
  trap 'rm -f /usr/sbin/policy-rc.d' EXIT
fi
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
