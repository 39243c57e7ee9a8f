#!/usr/bin/env bash
# Quick start, the main job: installs what is missing, builds, and runs the
# demo on a throw-away instance.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" build
exec "$top/build/bin/vendra" demo
