#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
# Safe to run again: it asks apt only for what is not installed yet.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  libsqlite3-dev sqlite3 libpugixml-dev libicu-dev nlohmann-json3-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  liblua5.4-dev
  libpq-dev postgresql-15  # the PostgreSQL driver and its private test server
  python3  # the tests read written mail with its email package
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
