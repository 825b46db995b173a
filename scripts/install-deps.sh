#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail

# clang and the compiler runtime of Debian's default clang (libclang-rt-dev pulls in the
# matching libclang-rt-N-dev) build the libFuzzer targets; libbenchmark-dev the benchmarks;
# apache2, squid, openssl and python3 run the test servers; libssl-dev and ca-certificates
# serve the HTTP client's certificate checks.
packages=(g++ cmake make pkg-config binutils libgtest-dev libexpat1-dev libcurl4-openssl-dev
          libssl-dev ca-certificates clang libclang-rt-dev libbenchmark-dev
          apache2 apache2-utils openssl squid python3 curl)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
# The tests start their own Apache and squid on loopback ports (scripts/servers); the
# packages' own services, which would listen on every address, are kept from starting.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
    "${sudo[@]}" chmod 755 "$policy"
    trap '"${sudo[@]}" rm -f "$policy"' EXIT
fi
"${sudo[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
