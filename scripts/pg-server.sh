#!/usr/bin/env bash
# A private PostgreSQL server for the tests: a fresh cluster in a temporary
# folder, listening on a free local port, owned by an unprivileged user.
#
#   scripts/pg-server.sh start [STATE]   prints the address (postgresql://...)
#   scripts/pg-server.sh stop  [STATE]   stops the server and removes its folder
#
# STATE (default /tmp/vendra-pg.state) remembers the folder and the address
# between the two. The server refuses to run as root, so as root the cluster
# belongs to the system user vendra-pg, created here when missing.
set -euo pipefail
bin=${VENDRA_PG_BIN:-/usr/lib/postgresql/15/bin}
command=${1:-}
state=${2:-/tmp/vendra-pg.state}

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u vendra-pg -- "$@"
  else
    "$@"
  fi
}

case "$command" in
  start)
    if [ ! -x "$bin/initdb" ]; then
      echo "pg-server: $bin/initdb not found (install postgresql-15)" >&2
      exit 1
    fi
    if [ "$(id -u)" -eq 0 ] && ! id vendra-pg >/dev/null 2>&1; then
      useradd --system --no-create-home --shell /usr/sbin/nologin vendra-pg
    fi
    dir=$(mktemp -d /tmp/vendra-pg.XXXXXX)
    chmod 755 "$dir"
    [ "$(id -u)" -eq 0 ] && chown vendra-pg "$dir"
    # A free port: the kernel picks one for a socket that is closed at once.
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
    as_owner "$bin/initdb" -D "$dir/data" -U vendra --auth=trust --encoding=UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || {
      cat "$dir/initdb.log" >&2
      exit 1
    }
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=200" \
      start >/dev/null || {
      cat "$dir/server.log" >&2
      exit 1
    }
    url="postgresql://vendra@127.0.0.1:$port/postgres"
    printf 'dir=%s\nurl=%s\n' "$dir" "$url" >"$state"
    echo "$url"
    ;;
  stop)
    [ -f "$state" ] || exit 0
    dir=$(sed -n 's/^dir=//p' "$state")
    if [ -n "$dir" ] && [ -d "$dir/data" ]; then
      as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    fi
    case "$dir" in /tmp/vendra-pg.*) rm -rf "$dir" ;; esac
    rm -f "$state"
    ;;
  *)
    echo "usage: $0 start|stop [STATE]" >&2
    exit 2
    ;;
esac
