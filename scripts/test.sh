#!/usr/bin/env bash
# Quick start, the checks: installs what is missing, builds, runs every test,
# runs them again with every test instance on a private PostgreSQL server started
# here (skip the server and its tests with VENDRA_SKIP_POSTGRES=1), then runs the
# suites under AddressSanitizer and UndefinedBehaviorSanitizer, on SQLite only
# (skip that pass with VENDRA_SKIP_SANITIZE=1).
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

# The same suites again with every test instance on the private server
# (tests/support/test_instance.h). Left out: the SQLite driver's own tests
# and the recorded SQL corpus (they run on SQLite whatever the instance
# uses) and the PostgreSQL driver's tests, which ran above.
if [ -n "${VENDRA_PG_URL:-}" ]; then
  pg_started=$(date +%s)
  (cd build && VENDRA_TEST_PG_URL=$VENDRA_PG_URL ctest --output-on-failure -j "$(nproc)" \
     -E '^(Sqlite|AutoParam|sql_corpus_|Postgres|ScriptSections)')
  rm -rf "${TMPDIR:-/tmp}"/vendra-test-vt_t*
  echo "test: the PostgreSQL pass took $(( $(date +%s) - pg_started ))s"
fi

if [ "${VENDRA_SKIP_SANITIZE:-0}" != "1" ]; then
  "$top/scripts/build.sh" build-asan -DVENDRA_SANITIZE=ON -DVENDRA_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
     ctest --output-on-failure -j "$(nproc)")
fi
