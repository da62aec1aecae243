#!/usr/bin/env bash
# The listener under idle load: 10 000 connections from 200 addresses of 127.0.0.0/8
# (50 each) that sent part of a request line and then stay silent. Measures the
# service's resident memory and threads while they are held, the latency of a
# legitimate client meanwhile (wrk, one connection, one request per connection),
# and when a client that sends one byte every 25 s is closed (the total deadline).
# nginx (one worker) is measured with the same idle load for comparison.
#   IDLE      idle connections (default 10000)
#   PEERS     peer addresses they come from (default 200)
#   TRICKLE   0 skips the trickling client (it takes about a minute)
set -euo pipefail
source "$(dirname "$0")/servers.sh"
idle=${IDLE:-10000}
peers=${PEERS:-200}
trickle=${TRICKLE:-1}
ulimit -n "$(ulimit -Hn)"
start_servers 32768

python3 - "$service_port" "$service_pid" "$nginx_port" "$nginx_worker" "$idle" "$peers" "$trickle" <<'PY'
import re, resource, socket, subprocess, sys, threading, time

service_port, service_pid, nginx_port, nginx_pid = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]
idle, peers, trickle = int(sys.argv[5]), int(sys.argv[6]), sys.argv[7] == "1"
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

def status(pid, key):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith(key):
            return int(line.split()[1])

def hold(port):
    conns = []
    for i in range(idle):
        peer = f"127.0.{(i % peers) // 250}.{(i % peers) % 250 + 2}"
        s = socket.socket()
        s.bind((peer, 0))
        s.connect(("127.0.0.1", port))
        s.sendall(b"POST /WsTavoric HTTP/1.1\r\n")
        conns.append(s)
    return conns

def legit_latency(port):
    out = subprocess.run(["wrk", "-t1", "-c1", "-d5s", "--latency", "-H", "Connection: close",
                          f"http://127.0.0.1:{port}/WsTavoric"], capture_output=True, text=True).stdout
    p50 = re.search(r"^\s+50%\s+(\S+)", out, re.M).group(1)
    p99 = re.search(r"^\s+99%\s+(\S+)", out, re.M).group(1)
    rate = re.search(r"Requests/sec:\s+(\S+)", out).group(1)
    errors = re.search(r"(Socket errors.*|Non-2xx.*)", out)
    return p50, p99, rate, errors.group(1) if errors else "no errors"

def trickler(port, result):
    s = socket.create_connection(("127.0.0.1", port))
    start = time.monotonic()
    request = b"POST /WsTavoric HTTP/1.1\r\nHost: a\r\n\r\n"
    s.settimeout(25)
    for i in range(len(request)):
        try:
            s.send(request[i:i + 1])
            if s.recv(1) == b"":
                break
        except socket.timeout:
            continue
        except OSError:
            break
    result.append(time.monotonic() - start)

trickled = []
if trickle:
    watcher = threading.Thread(target=trickler, args=(service_port, trickled))
    watcher.start()

for name, port, pid in (("service", service_port, service_pid), ("nginx", nginx_port, nginx_pid)):
    before = status(pid, "VmRSS") / 1024
    conns = hold(port)
    time.sleep(3)
    rss, threads = status(pid, "VmRSS") / 1024, status(pid, "Threads")
    p50, p99, rate, errors = legit_latency(port)
    print(f"{name}: {idle} idle connections from {peers} addresses: resident memory {before:.1f} -> {rss:.1f} MiB, "
          f"{threads} threads; a legitimate client meanwhile: p50 {p50}, p99 {p99}, {rate} requests/s, {errors}")
    for s in conns:
        s.close()
    time.sleep(1)

if trickle:
    watcher.join()
    print(f"service: the client sending one byte every 25 s was closed after {trickled[0]:.1f} s")
PY
