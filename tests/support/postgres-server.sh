#!/usr/bin/env bash
# postgres-server.sh init DIR | run DIR PORT | stop DIR fast|immediate
# A throwaway PostgreSQL 15 server (Debian's postgresql-15) for the tests and benchmarks, in DIR:
#   init  makes the cluster DIR/data with the superuser "postgres", whose password is the first
#         line of DIR/password, and password (SCRAM) sign-in for everyone;
#   run   becomes the server, on 127.0.0.1:PORT only (no Unix socket); it ends with its parent;
#   stop  ends it: fast, or immediate, which is what a crash leaves.
# PostgreSQL refuses to run as root: run as root, the script runs it as "nobody" (in every
# Debian base system) and hands DIR over to that user. Durability is off; the data is thrown away.
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
command=$1
dir=$2
as_server=()
if [ "$(id -u)" -eq 0 ]; then
    as_server=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
# English messages: the fixture reads "ready to accept connections".
export LC_ALL=C
cd "$dir"

case $command in
init)
    [ ${#as_server[@]} -eq 0 ] || chown nobody:nogroup "$dir" "$dir/password"
    "${as_server[@]}" "$bin/initdb" -D "$dir/data" -U postgres --pwfile="$dir/password" --auth=scram-sha-256 \
        -E UTF8 --locale=C --no-sync --no-instructions >"$dir/initdb.log" 2>&1 || {
        cat "$dir/initdb.log" >&2
        exit 1
    }
    ;;
run)
    exec "${as_server[@]}" setpriv --pdeathsig SIGQUIT -- "$bin/postgres" -D "$dir/data" -p "$3" -k "" \
        -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off
    ;;
stop)
    "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" stop -m "$3" -s -w
    ;;
*)
    echo "usage: $0 init DIR | run DIR PORT | stop DIR fast|immediate" >&2
    exit 2
    ;;
esac
