#!/usr/bin/env bash
# The real program (Linux, offscreen) with a business library whose ExecJSon takes
# 200 ms, as a database query does, after a warm-up with slow calls:
#   1. 16 clients keep 16 slow calls in flight while one more client sends intake
#      status requests (no library call) one after another: its latency and rate;
#   2. 64 clients of slow calls: requests answered 200 per second (the handler
#      pool's 32 instances bound it at 160/s) and the pool's "too many" answers.
#   DURATION  seconds per measured run (default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${DURATION:-10}
scripts/setup
cmake --preset default >/dev/null
cmake --build build --target TavWebService fixture_complete >/dev/null

work=$(mktemp -d)
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[SERVIDOR]\r\nPORTA=%s\r\n[GERAIS]\r\nINICIARAUTO=S\r\n' "$port" > "$work/TavWebService.ini"
cp build/tests/fixtures/complete/DozUzedoda.so "$work/"
(cd "$work" && FIXTURE_DELAY_MS=200 FIXTURE_ANSWER='{}' QT_QPA_PLATFORM=offscreen exec "$OLDPWD/build/TavWebService" 2>/dev/null) &
program_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

cat > "$work/slow.lua" <<'LUA'
wrk.method = "POST"
wrk.body = '{"ACAO":"PING"}'
wrk.headers["Connection"] = "close"
LUA
cat > "$work/status.lua" <<'LUA'
wrk.method = "POST"
wrk.body = '{"a":"VUZEDAVODOZUZODOVE","b":"CONSULTARSTATUS"}'
wrk.headers["Connection"] = "close"
LUA
url="http://127.0.0.1:$port/WsTavoric"

echo "warm-up: 64 clients of slow calls, 5 s"
wrk -t2 -c64 -d5s -s "$work/slow.lua" "$url" >/dev/null
sleep 1  # the last slow calls of the warm-up end

echo "1. 16 slow calls in flight; one client of status requests, ${duration} s"
wrk -t1 -c16 -d"$((duration + 2))s" -s "$work/slow.lua" "$url" > "$work/slow16.txt" &
slow_pid=$!
sleep 1
wrk -t1 -c1 -d"${duration}s" --latency -s "$work/status.lua" "$url" > "$work/status.txt"
wait "$slow_pid"
awk '$1=="50%" {p50=$2} $1=="99%" {p99=$2} /Requests\/sec/ {rate=$2} /Socket errors|Non-2xx/ {err=err $0}
     END {printf "   status client: %s requests/s, p50 %s, p99 %s %s\n", rate, p50, p99, err}' "$work/status.txt"
awk '/Requests\/sec/ {rate=$2} /Non-2xx|Socket errors/ {err=err $0} END {printf "   slow clients: %s requests/s %s\n", rate, err}' "$work/slow16.txt"

echo "2. 64 clients of slow calls, ${duration} s"
wrk -t2 -c64 -d"${duration}s" -s "$work/slow.lua" "$url" > "$work/slow64.txt"
awk -v d="$duration" '/requests in/ {total=$1} /Non-2xx/ {non2xx=$NF} /Socket errors/ {sock=$0}
     END {ok=total-non2xx; printf "   %d requests: %.0f answered 200 per second, %d \"too many\" (500) answers %s\n", total, ok/d, non2xx, sock}' \
  "$work/slow64.txt"
