#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the database tests, under the build folder:
#   postgres_cluster.sh start DIR [durable]  initdb + start (nothing, and exit 0, without the
#                                   server's programs: the tests then skip); fsync off unless
#                                   "durable" (the benchmark's)
#   postgres_cluster.sh stop DIR    stop the server and remove DIR
#   postgres_cluster.sh halt DIR    stop the server only (a test's outage)
#   postgres_cluster.sh resume DIR  start it again
# DIR/url holds the connection URL (a Unix socket in DIR/socket). The server refuses to run as
# root: as root, the cluster belongs to the postgres user and its programs run as that user.
set -euo pipefail
verb=${1:?verb}
dir=${2:?folder}

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
as_owner() {
  if (( EUID == 0 )); then (cd / && runuser -u postgres -- "$@"); else "$@"; fi
}
# As root, a build folder inside a private one (mktemp -d makes them 0700) is out of the postgres
# user's reach: the cluster then lives in a folder of its own under the temporary folder, DIR a
# link to it.
link_name=""
if [[ -L $dir ]]; then
  link_name=$dir
  dir=$(readlink -f "$dir")
fi
pg_ctl_run() {
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 "$@"
}

case $verb in
  start)
    "$0" stop "$dir" >/dev/null 2>&1 || true
    if [[ -z $bin || ! -x $bin/initdb ]]; then
      echo "no PostgreSQL server programs under /usr/lib/postgresql: database tests skip"
      exit 0
    fi
    if (( EUID == 0 )) && ! runuser -u postgres -- test -x "$(dirname "$dir")"; then
      link_name=$dir
      dir=$(mktemp -d "${TMPDIR:-/tmp}/vantor-pg.XXXXXX")
      ln -sfn "$dir" "$link_name"
    fi
    mkdir -p "$dir/socket"
    (( EUID == 0 )) && chown -R postgres: "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -A trust -U postgres --no-sync >"$dir/initdb.log"
    # A free TCP port on the loopback (also names the socket file).
    port=""
    for candidate in $(shuf -i 20000-60000 -n 50); do
      if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
    done
    [[ -n $port ]] || { echo "no free port" >&2; exit 1; }
    cat >>"$dir/data/postgresql.conf" <<CONF
port = $port
listen_addresses = '127.0.0.1'
unix_socket_directories = '$dir/socket'
fsync = $([[ ${3:-} == durable ]] && echo on || echo off)
max_connections = 50
CONF
    pg_ctl_run start >/dev/null
    echo "postgresql:///postgres?host=$dir/socket&port=$port&user=postgres" >"$dir/url"
    echo "$bin" >"$dir/bin"
    echo "PostgreSQL on port $port in $dir"
    ;;
  halt)
    pg_ctl_run stop -m fast >/dev/null
    ;;
  resume)
    pg_ctl_run start >/dev/null
    ;;
  stop)
    if [[ -n $bin && -f $dir/data/postmaster.pid ]]; then
      pg_ctl_run stop -m immediate >/dev/null || true
    fi
    rm -rf "$dir"
    [[ -z $link_name ]] || rm -f "$link_name"
    ;;
  *)
    echo "unknown verb $verb" >&2
    exit 2
    ;;
esac
