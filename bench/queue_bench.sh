#!/usr/bin/env bash
# Mines 30 shops of 1,000 ratings each from the queue against a marketplace 100 ms away, with
# one worker and then with three side by side (4 connections each), and prints both times and
# the most requests the marketplace had in flight. On a server also three workers under a team
# cap of 4 ([Net] TeamConnections=4), against one worker alone.
# Usage: bench/queue_bench.sh [BUILD_DIR] [server]   (run by hand; not part of ctest)
# With "server" the queue and the ratings live on a local database server started here.
set -euo pipefail
build=${1:-build}
engine=${2:-file}
bin=$(cd "$build/bin" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
market=
server_url=
trap 'kill $market 2>/dev/null || true; [ -n "$server_url" ] && bash "$here/scripts/pg-local" stop "$work/pg" >/dev/null 2>&1; rm -rf "$work"' EXIT
if [ "$engine" = server ]; then
    chmod 755 "$work" # the server runs as its own user when started as root
    server_url=$(bash "$here/scripts/pg-local" start "$work/pg")
    psql_bin="$(bash "$here/scripts/pg-local" bindir)/psql"
fi

log=$work/requests.log
"$bin/kestrova-market" --port 0 --shops 30 --ratings 1000 --latency 100 --log-times --log "$log" \
    >"$work/market.out" 2>&1 &
market=$!
for _ in $(seq 100); do grep -q listening "$work/market.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/market.out" | head -1)
base="http://127.0.0.1:$port"
urls=()
for i in $(seq 30); do urls+=("$base/shop/$i.htm"); done

mine_with() { # workers [team cap]; prints the seconds taken, the ratings stored, the most in flight
    local n=$1 team=${2:-0}
    local dir=$work/workers-$n-$team
    mkdir -p "$dir"
    printf '[Market]\r\nRatingHost=%s\r\nDomain=127.0.0.1\r\n[Net]\r\nConnections=4\r\nTeamConnections=%s\r\n' \
        "$base" "$team" >"$dir/config.ini"
    if [ -n "$server_url" ]; then
        "$psql_bin" -X -q "$server_url" -c "CREATE DATABASE w${n}_$team" >/dev/null
        printf '[Database]\r\nUrl=%s\r\n' "${server_url%/*}/w${n}_$team" >>"$dir/config.ini"
    fi
    local before
    before=$(cat "$log" 2>/dev/null | wc -l)
    "$bin/kestrova-cli" --data-dir "$dir" queue add "${urls[@]}" >/dev/null
    local s e pids=()
    s=$(date +%s.%N)
    for w in $(seq "$n"); do
        "$bin/kestrova-cli" --data-dir "$dir" work --once --connections 4 >"$dir/out-$w.json" 2>"$dir/err-$w.txt" &
        pids+=($!)
    done
    for p in "${pids[@]}"; do wait "$p" || echo "worker $p failed: $(tail -n 3 "$dir/err-"*.txt)" >&2; done
    e=$(date +%s.%N)
    local stored
    stored=$("$bin/kestrova-cli" --data-dir "$dir" sql "select count(*) as n from pjinfo" | sed 's/[^0-9]//g')
    local most
    most=$(tail -n +"$((before + 1))" "$log" | awk '$2 > m { m = $2 } END { print m + 0 }')
    awk -v s="$s" -v e="$e" -v n="$stored" -v m="$most" 'BEGIN { printf "%.2f %s %s", e - s, n, m }'
}

read -r one one_stored one_most <<<"$(mine_with 1)"
read -r three three_stored three_most <<<"$(mine_with 3)"
awk -v a="$one" -v b="$three" -v an="$one_stored" -v bn="$three_stored" -v am="$one_most" -v bm="$three_most" 'BEGIN {
    printf "one worker:    %.2f s, %s ratings stored, at most %s in flight\n", a, an, am
    printf "three workers: %.2f s, %s ratings stored, at most %s in flight (%.2fx faster)\n", b, bn, bm, a / b
}'
if [ -n "$server_url" ]; then
    read -r team team_stored team_most <<<"$(mine_with 3 4)"
    awk -v a="$one" -v t="$team" -v tn="$team_stored" -v tm="$team_most" 'BEGIN {
        printf "three workers, TeamConnections=4: %.2f s, %s ratings stored, at most %s in flight (%.2fx one worker'"'"'s time)\n", t, tn, tm, t / a
    }'
fi
