#!/usr/bin/env bash
# Quick start, the checks: installs what is missing, builds, runs every test,
# then runs the suites again under AddressSanitizer and UndefinedBehaviorSanitizer
# (skip that pass with VENDRA_SKIP_SANITIZE=1). The PostgreSQL driver tests run
# against a private server started here (skip them with VENDRA_SKIP_POSTGRES=1).
# The benchmarks are built, not run:
# their ratios need a quiet machine (README, "Benchmarks").
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/setup.sh"

"$top/scripts/build.sh" build
# The PostgreSQL driver tests run against a private server of their own
# (skipped, saying so, with VENDRA_SKIP_POSTGRES=1).
if [ "${VENDRA_SKIP_POSTGRES:-0}" = "1" ]; then
  echo "test: skipping the PostgreSQL tests (VENDRA_SKIP_POSTGRES=1)"
else
  pg_state=$(mktemp /tmp/vendra-pg-state.XXXXXX)
  trap '"$top/scripts/pg-server.sh" stop "$pg_state"' EXIT
  VENDRA_PG_URL=$("$top/scripts/pg-server.sh" start "$pg_state")
  export VENDRA_PG_URL
fi
(cd build && ctest --output-on-failure -j "$(nproc)")

if [ "${VENDRA_SKIP_SANITIZE:-0}" != "1" ]; then
  "$top/scripts/build.sh" build-asan -DVENDRA_SANITIZE=ON -DVENDRA_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
     ctest --output-on-failure -j "$(nproc)")
fi
