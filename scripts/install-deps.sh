#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; installs nothing when
# all are present. Usage: scripts/install-deps.sh [build|test]
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libsqlite3-dev qt6-base-dev
          libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libical-dev libssl-dev
          qt6-translations-l10n)
if [ "${1:-build}" = test ]; then
  packages+=(clang clang-format xvfb xauth sqlite3 python3 python3-dateutil tzdata python3-vobject
            python3-icalendar openssl curl)
fi
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
