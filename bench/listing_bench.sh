#!/usr/bin/env bash
# Listing a collection of 10,000 files on the local Apache: the plugin (through
# build/bench/listing_host, which loads it as the host does) against curl fetching the same
# PROPFIND body. Prints both median times, their ratio, the body size and the plugin's peak
# memory in multiples of it. Run by hand after a build:
#
#   bash bench/listing_bench.sh [BUILD_DIR] [FILES] [ITERATIONS]
#
# It starts the project's servers on ports of its own (49xxx) in a state folder of its own
# and stops them at the end.
set -euo pipefail

root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
files=${2:-10000}
iterations=${3:-11}
host_program=$build/bench/listing_host
[ -x "$host_program" ] || { echo "build first: $host_program is missing" >&2; exit 1; }

state=$(mktemp -d /tmp/vodarezazuv-listing-bench.XXXXXX)
export VODAREZAZUV_HTTP_PORT=49080 VODAREZAZUV_HTTPS_PORT=49443
export VODAREZAZUV_HTTPS_CLIENT_CERT_PORT=49444 VODAREZAZUV_HTTPS_EXPIRED_PORT=49445
export VODAREZAZUV_HTTPS_WRONG_NAME_PORT=49446 VODAREZAZUV_SCRIPTED_PORT=49081
export VODAREZAZUV_PROXY_AUTH_PORT=49128 VODAREZAZUV_PROXY_PORT=49129
cleanup() {
    bash "$root/scripts/servers/stop.sh" "$state/servers" >/dev/null 2>&1 || true
    rm -rf -- "$state"
}
[ -n "${KEEP_STATE:-}" ] || trap cleanup EXIT
bash "$root/scripts/servers/start.sh" "$state/servers" >/dev/null
env_value() { sed -n "s/^$1=//p" "$state/servers/servers.env"; }
DAV_ROOT=$(env_value DAV_ROOT)
DAV_URL=$(env_value DAV_URL)

collection=bench-$files
mkdir -p "$DAV_ROOT/$collection"
(cd "$DAV_ROOT/$collection" && seq -f "file-%05g.txt" 1 "$files" | xargs touch)
chown -R www-data:www-data "$DAV_ROOT/$collection"

mkdir -p "$state/settings"
printf '[bench]\nserver=%s\nutf8urls=1\n' "$DAV_URL" >"$state/settings/vodarezazuv.ini"

url="$DAV_URL$collection/"
curl -s -o "$state/body.xml" -X PROPFIND -H "Depth: 1" "$url"
body_bytes=$(stat -c %s "$state/body.xml")
curl_times=()
for ((i = 0; i < iterations; i++)); do
    curl_times+=("$(curl -s -o /dev/null -w '%{time_total}' -X PROPFIND -H "Depth: 1" "$url")")
done
curl_median=$(printf '%s\n' "${curl_times[@]}" | sort -g | sed -n "$((iterations / 2 + 1))p")

read -r _ entries _ plugin_median _ peak_kb < <(
    "$host_program" "$build/vodarezazuv.so" "$state/settings" bench "$collection" "$iterations")

awk -v files="$files" -v entries="$entries" -v body="$body_bytes" -v curl="$curl_median" \
    -v plugin="$plugin_median" -v peak="$peak_kb" 'BEGIN {
    printf "collection      %d files, %d entries listed\n", files, entries
    printf "body            %.2f MB\n", body / 1e6
    printf "curl PROPFIND   %.1f ms (median of the runs)\n", curl * 1000
    printf "plugin listing  %.1f ms (median of the runs)\n", plugin * 1000
    printf "time ratio      %.2f (target below 2)\n", plugin / curl
    printf "peak memory     %.2f MB = %.2f times the body (target below 4)\n",
           peak * 1024 / 1e6, peak * 1024 / body
}'
