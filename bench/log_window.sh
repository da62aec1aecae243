#!/usr/bin/env bash
# The Qt program under Xvfb with the execution log window open: 32 clients of
# business requests (one per connection, a fast fixture library) at full speed,
# first with the log closed, then open; resident memory, throughput, how fast the
# window clears its log under load, and how soon the last request shows after it.
#   bench/log_window.sh [SECONDS_OPEN=600] [SECONDS_CLOSED=60]
set -euo pipefail
cd "$(dirname "$0")/.."
open=${1:-600}
closed=${2:-60}
root=$(pwd)
scripts/setup
cmake --preset default >/dev/null
cmake --build build --target log_window_bench fixture_complete >/dev/null
work=$(mktemp -d)
. scripts/lib/xvfb.sh
start_xvfb
trap 'kill "$TAV_XVFB_PID" 2>/dev/null || true; rm -rf "$work"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[SERVIDOR]\r\nPORTA=%s\r\n[GERAIS]\r\nINICIARAUTO=S\r\n' "$port" > "$work/TavWebService.ini"
cp build/tests/fixtures/complete/DozUzedoda.so "$work/"
cd "$work"
FIXTURE_ANSWER='{"ok":true}' QT_QPA_PLATFORM=xcb "$root/build/log_window_bench" "$port" "$closed" "$open" 32
