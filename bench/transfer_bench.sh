#!/usr/bin/env bash
# Downloads and uploads one large file on the local Apache, once through the plugin (loaded
# by bench/transfer_host as the file manager loads it) and once with curl -o and curl -T,
# and prints both throughputs, their ratio and the host process's peak resident memory.
#
# Usage: bench/transfer_bench.sh [BUILD_DIR]   (default: build)
# Environment: SIZE_MIB (default 1024), RUNS (default 3; the best run of each counts),
# VODAREZAZUV_SERVERS_ENV (use running servers; otherwise they are started on ports of
# their own, 38080 and up, and stopped again).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(cd "$here/.." && pwd -P)
build=$(cd "${1:-$repo/build}" && pwd -P)
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-3}
plugin=$build/vodarezazuv.so
host=$build/bench/transfer_host
for needed in "$plugin" "$host"; do
    [ -x "$needed" ] || [ -f "$needed" ] || {
        echo "transfer_bench: $needed is missing; build first" >&2
        exit 1
    }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/transfer-bench.XXXXXX")
state=
cleanup() {
    [ -n "${folder:-}" ] && rm -rf -- "$folder"
    [ -n "$state" ] && bash "$repo/scripts/servers/stop.sh" "$state" >/dev/null 2>&1 || true
    rm -rf -- "$work"
}
trap cleanup EXIT

env_file=${VODAREZAZUV_SERVERS_ENV:-}
if [ -z "$env_file" ]; then
    state=$work/servers
    export VODAREZAZUV_HTTP_PORT=38080 VODAREZAZUV_HTTPS_PORT=38443 \
        VODAREZAZUV_HTTPS_CLIENT_CERT_PORT=38444 VODAREZAZUV_HTTPS_EXPIRED_PORT=38445 \
        VODAREZAZUV_HTTPS_WRONG_NAME_PORT=38446 VODAREZAZUV_SCRIPTED_PORT=38081 \
        VODAREZAZUV_PROXY_AUTH_PORT=38128 VODAREZAZUV_PROXY_PORT=38129
    bash "$repo/scripts/servers/start.sh" "$state" >/dev/null
    env_file=$state/servers.env
fi
value() { sed -n "s/^$1=//p" "$env_file"; }
dav_root=$(value DAV_ROOT)
dav_url=$(value DAV_URL)

name=bench-$$
folder=$dav_root/$name
mkdir -p "$folder"
chmod 777 "$folder"
echo "Writing a file of $size_mib MiB ..."
head -c "$((size_mib * 1048576))" /dev/urandom >"$folder/big.bin"
chmod 666 "$folder/big.bin"
bytes=$(stat -c %s "$folder/big.bin")

config=$work/config
mkdir -p "$config"
printf '[bench]\nserver=%s\n' "$dav_url" >"$config/vodarezazuv.ini"

best() { # current candidate -> the smaller positive number
    awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'
}
plugin_down= plugin_up= curl_down= curl_up= peak=0
for run in $(seq 1 "$runs"); do
    out=$("$host" "$plugin" "$config" "\\bench\\$name" big.bin "$work/plugin.bin" plugin-up.bin 2>&1) || {
        echo "exit status $?" >&2
        echo "$out" >&2
        echo "transfer_bench: the plugin's transfer failed (run $run)" >&2
        exit 1
    }
    cmp -s "$folder/big.bin" "$work/plugin.bin" || { echo "download differs" >&2; exit 1; }
    cmp -s "$folder/big.bin" "$folder/plugin-up.bin" || { echo "upload differs" >&2; exit 1; }
    plugin_down=$(best "$plugin_down" "$(sed -n 's/^download_seconds=//p' <<<"$out")")
    plugin_up=$(best "$plugin_up" "$(sed -n 's/^upload_seconds=//p' <<<"$out")")
    rss=$(sed -n 's/^peak_rss_kib=//p' <<<"$out")
    ((rss > peak)) && peak=$rss
    rm -f -- "$work/plugin.bin" "$folder/plugin-up.bin"

    t=$(curl -s -o "$work/curl.bin" -w '%{time_total}' "$dav_url$name/big.bin")
    curl_down=$(best "$curl_down" "$t")
    t=$(curl -s -T "$work/curl.bin" -o /dev/null -w '%{time_total}' "$dav_url$name/curl-up.bin")
    curl_up=$(best "$curl_up" "$t")
    rm -f -- "$work/curl.bin" "$folder/curl-up.bin"
done

awk -v bytes="$bytes" -v pd="$plugin_down" -v pu="$plugin_up" -v cd="$curl_down" \
    -v cu="$curl_up" -v peak="$peak" -v runs="$runs" 'BEGIN {
    mb = bytes / 1e6
    printf "file: %d bytes, best of %d runs\n", bytes, runs
    printf "download  plugin %7.1f MB/s (%.2f s)   curl -o %7.1f MB/s (%.2f s)   ratio %.2f\n",
        mb / pd, pd, mb / cd, cd, cd / pd
    printf "upload    plugin %7.1f MB/s (%.2f s)   curl -T %7.1f MB/s (%.2f s)   ratio %.2f\n",
        mb / pu, pu, mb / cu, cu, cu / pu
    printf "host peak resident memory: %.1f MiB (VmHWM)\n", peak / 1024
}'
