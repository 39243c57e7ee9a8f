#!/usr/bin/env bash
# Configures and builds one build tree. Usage: scripts/build.sh [DIR] [cmake options...]
# DIR defaults to build/; a sanitizer tree is build-asan/ with -DVENDRA_SANITIZE=ON.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}
shift || true
cd "$top"
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)"
