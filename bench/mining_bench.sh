#!/usr/bin/env bash
# Mines 20 shops of 2,000 ratings each from the demo marketplace through kestrova-cli,
# then fetches the very same pages with curl alone, and prints both times.
# Usage: bench/mining_bench.sh [BUILD_DIR]   (run by hand; not part of ctest)
set -euo pipefail
build=${1:-build}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
trap 'kill $market 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/kestrova-market" --port 0 --shops 20 --ratings 2000 --log "$work/requests.log" >"$work/market.out" 2>&1 &
market=$!
for _ in $(seq 50); do grep -q listening "$work/market.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/market.out" | head -1)
base="http://127.0.0.1:$port"
printf '[Market]\r\nRatingHost=%s\r\nDomain=127.0.0.1\r\n' "$base" >"$work/config.ini"

urls=()
for i in $(seq 20); do urls+=("$base/shop/$i.htm"); done

start=$(date +%s.%N)
"$bin/kestrova-cli" --data-dir "$work" mine "${urls[@]}" >/dev/null 2>&1
end=$(date +%s.%N)
pages=$(wc -l <"$work/requests.log")
stored=$("$bin/kestrova-cli" --data-dir "$work" sql "select count(*) as n from pjinfo")

# The same request lines, fetched by one curl process (connections reused) and by a
# process per page.
sed -n 's/^GET \([^ ]*\) HTTP.*/\1/p' "$work/requests.log" | sed "s|^|$base|" >"$work/urls.txt"
cstart=$(date +%s.%N)
# Connection: close gives every page a connection of its own, as the workers have.
xargs curl -s -H "Connection: close" <"$work/urls.txt" >/dev/null
cend=$(date +%s.%N)
lstart=$(date +%s.%N)
while read -r u; do curl -s -o /dev/null "$u"; done <"$work/urls.txt"
lend=$(date +%s.%N)

awk -v s="$start" -v e="$end" -v p="$pages" -v cs="$cstart" -v ce="$cend" -v ls="$lstart" -v le="$lend" \
    -v n="$stored" 'BEGIN {
    t = e - s; c = ce - cs; l = le - ls
    printf "kestrova-cli mine: %.2f s for %d pages (%.0f pages/s), stored %s\n", t, p, p / t, n
    printf "curl, one process:  %.2f s (mine / curl = %.2f)\n", c, t / c
    printf "curl, per page:     %.2f s (mine / curl = %.2f)\n", l, t / l
}'
