#!/usr/bin/env bash
# TavWebService.exe under Wine with its execution log window open: 32 clients of
# business requests (one per connection, the fast fixture library) for SECONDS;
# the resident memory of the program's process, sampled every second from Linux,
# and how long "Fechar" takes once the load ends.
#   bench/log_window_wine.sh [SECONDS=300] [ARCH=win64]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
arch=${2:-win64}
scripts/setup
cmake --preset "$arch" >/dev/null
cmake --build "build-$arch" --target TavWebService fixture_complete program_load_bench >/dev/null
. scripts/lib/xvfb.sh
start_xvfb
samples=$(mktemp)
(
  pid=""
  while [ -z "$pid" ]; do pid=$(pgrep -f 'TavWebService.exe' | head -n1 || true); sleep 0.5; done
  while [ -d "/proc/$pid" ]; do
    awk '/VmRSS/ {print $2}' "/proc/$pid/status" >> "$samples" 2>/dev/null || true
    sleep 1
  done
) &
sampler=$!
scripts/wine-run "build-$arch/program_load_bench.exe" "Z:$(pwd)/build-$arch/TavWebService.exe" \
  "Z:$(pwd)/build-$arch/tests/fixtures/complete/DozUzedoda.dll" "$seconds" 32 0 1
sleep 2
kill "$sampler" 2>/dev/null || true
python3 - "$samples" <<'PY'
import sys
kib = [int(x) for x in open(sys.argv[1]) if x.strip()]
if kib:
    minute = [max(kib[i:i + 60]) / 1024 for i in range(0, len(kib), 60)]
    print(f"resident memory of TavWebService.exe: at most {max(kib) / 1024:.1f} MiB over {len(kib)} samples; "
          f"the most in each minute: {', '.join(f'{m:.0f}' for m in minute)} MiB (goal <= 256 MiB)")
PY
rm -f "$samples"
