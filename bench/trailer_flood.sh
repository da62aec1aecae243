#!/usr/bin/env bash
# The listener (trivial action) under a flood of trailers: 64 connections from each
# of 10 addresses of 127.0.0.0/8 send a chunked request whose last chunk is followed
# by trailer lines, trying for 100 MB each. Measures the service's resident memory
# throughout, how much each connection got to send before it was cut off, and a
# legitimate client's requests meanwhile (one request per connection).
#   PEERS, PER_PEER, MEGABYTES   (defaults 10, 64, 100)
set -euo pipefail
source "$(dirname "$0")/servers.sh"
ulimit -n "$(ulimit -Hn)"
start_servers

python3 - "$service_port" "$service_pid" "${PEERS:-10}" "${PER_PEER:-64}" "${MEGABYTES:-100}" <<'PY'
import socket, sys, threading, time

port, pid, peers, per_peer, megabytes = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])

def rss():
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS"):
            return int(line.split()[1]) / 1024

head = b"POST /WsTavoric HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n"
block = b"".join(b"X-Trailer-%05d: %s\r\n" % (i, b"t" * 80) for i in range(640))  # about 64 KiB
sent, cut = [], []
lock = threading.Lock()

def flood(source):
    total = 0
    try:
        s = socket.create_connection(("127.0.0.1", port), source_address=(source, 0))
        s.sendall(head)
        while total < megabytes << 20:
            s.sendall(block)
            total += len(block)
        closed = False
    except OSError:
        closed = True
    with lock:
        sent.append(total)
        cut.append(closed)

before = rss()
threads = [threading.Thread(target=flood, args=(f"127.0.1.{p + 1}",)) for p in range(peers) for _ in range(per_peer)]
for t in threads:
    t.start()
most, served, failed = before, 0, 0
while any(t.is_alive() for t in threads):
    most = max(most, rss())
    try:
        c = socket.create_connection(("127.0.0.1", port), timeout=5)
        c.sendall(b"GET /WsTavoric HTTP/1.0\r\n\r\n")
        answer = c.recv(4096)
        c.close()
        if answer.startswith(b"HTTP/1.1 200"):
            served += 1
        else:
            failed += 1
    except OSError:
        failed += 1
for t in threads:
    t.join()
print(f"{len(sent)} flooding connections: {sum(cut)} cut off; most sent by one before the cut: {max(sent) / 1024:.0f} KiB")
print(f"resident memory: {before:.1f} MiB before, at most {most:.1f} MiB during the flood (goal <= 64 MiB)")
print(f"legitimate client meanwhile: {served} requests answered 200, {failed} failed")
PY
