#!/usr/bin/env bash
# Request rate of the listener against nginx on the same workload: wrk, one request
# per connection ("Connection: close"), 64 connections, a small JSON body, in rounds
# that alternate between the two; then the service's resident memory with 1000 idle
# connections open. bench/idle.sh measures ten thousand.
#   DURATION  seconds per wrk run (default 10)
#   ROUNDS    rounds of service then nginx (default 3)
set -euo pipefail
source "$(dirname "$0")/servers.sh"
duration=${DURATION:-10}
rounds=${ROUNDS:-3}
start_servers

# CPU time (user + system) a process has used, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# run_wrk PORT NAME PID: the rate, the p99 and the server's own CPU time per
# request (which still compares when the loopback, not the server, is the limit).
run_wrk() {
  local before after
  before=$(cpu_ticks "$3")
  wrk -t2 -c64 -d"${duration}s" --latency -H "Connection: close" "http://127.0.0.1:$1/WsTavoric" > "$work/wrk_$2.txt"
  after=$(cpu_ticks "$3")
  rate=$(awk '/Requests\/sec/ {print $2}' "$work/wrk_$2.txt")
  p99=$(awk '$1=="99%" {print $2}' "$work/wrk_$2.txt")
  requests=$(awk '/requests in/ {print $1}' "$work/wrk_$2.txt")
  cpu=$(python3 -c "import os; print(f'{($after - $before) / os.sysconf(\"SC_CLK_TCK\") * 1e6 / $requests:.1f}')")
  errors=$(grep -E 'Socket errors|Non-2xx' "$work/wrk_$2.txt" | tr '\n' ' ' || true)
  echo "$2: $rate requests/s, p99 $p99, $cpu us CPU/request ${errors}"
}

# Rounds alternate, so that a slow moment of the machine does not fall on one side only.
ratios=()
cpu_ratios=()
for round in $(seq "$rounds"); do
  service_line=$(run_wrk "$service_port" service "$service_pid")
  nginx_line=$(run_wrk "$nginx_port" nginx "$nginx_worker")
  echo "round $round: $service_line | $nginx_line"
  service_rate=$(echo "$service_line" | awk '{print $2}')
  nginx_rate=$(echo "$nginx_line" | awk '{print $2}')
  ratios+=("$(python3 -c "print(f'{float($service_rate)/float($nginx_rate):.2f}')")")
  service_cpu=$(echo "$service_line" | sed -E 's/.* ([0-9.]+) us CPU.*/\1/')
  nginx_cpu=$(echo "$nginx_line" | sed -E 's/.* ([0-9.]+) us CPU.*/\1/')
  cpu_ratios+=("$(python3 -c "print(f'{float($service_cpu)/float($nginx_cpu):.2f}')")")
done
python3 -c "import statistics, sys; r = sorted(map(float, sys.argv[1:])); print(f'ratio service/nginx: median {statistics.median(r):.2f} (rounds: {\", \".join(f\"{x:.2f}\" for x in r)}; goal >= 1.00)')" "${ratios[@]}"
python3 -c "import statistics, sys; r = sorted(map(float, sys.argv[1:])); print(f'CPU per request, service/nginx: median {statistics.median(r):.2f} (rounds: {\", \".join(f\"{x:.2f}\" for x in r)}; goal <= 0.70)')" "${cpu_ratios[@]}"

# Resident memory with 1000 idle connections (each has sent part of a request line).
python3 - "$service_port" "$service_pid" <<'PY'
import socket, sys, time
port, pid = int(sys.argv[1]), sys.argv[2]
def rss():
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS"):
            return int(line.split()[1]) / 1024
before = rss()
conns = []
for _ in range(1000):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(b"GET /WsTav")
    conns.append(s)
time.sleep(2)
after = rss()
print(f"resident memory: {before:.1f} MiB idle, {after:.1f} MiB with 1000 idle connections (goal < 64 MiB)")
for s in conns:
    s.close()
PY
