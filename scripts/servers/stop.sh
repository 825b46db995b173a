#!/usr/bin/env bash
# Stops what start.sh started in the given state directory (by its pid files) and waits
# until it is gone. Leaves the logs and the document tree for a look afterwards.
# Usage: stop.sh STATE_DIR
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 STATE_DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd -P)
# shellcheck source=common.sh
source "$here/common.sh"

[ -d "$1" ] || exit 0
state=$(cd -- "$1" && pwd -P)
stop_all "$state"
echo "Servers stopped ($state)"
