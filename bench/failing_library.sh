#!/usr/bin/env bash
# The real program with a business library that fails on every second ExecJSon
# (an OS exception on Windows, a C++ exception on Linux), under load: CLIENTS
# clients, one request per connection, SECONDS seconds. Runs the Linux program,
# then TavWebService.exe x64 and x86 under Wine (on a virtual display, where
# Parar and Iniciar are clicked afterwards).
#   bench/failing_library.sh [SECONDS=30] [CLIENTS=32]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
clients=${2:-32}
scripts/setup

echo "== Linux"
cmake --preset default >/dev/null
cmake --build build --target TavWebService fixture_complete program_load_bench >/dev/null
build/program_load_bench build/TavWebService build/tests/fixtures/complete/DozUzedoda.so "$seconds" "$clients"

. scripts/lib/xvfb.sh
start_xvfb
for arch in win64 win32; do
  echo "== Windows $arch, under Wine"
  cmake --preset "$arch" >/dev/null
  cmake --build "build-$arch" --target TavWebService fixture_complete program_load_bench >/dev/null
  scripts/wine-run "build-$arch/program_load_bench.exe" "Z:$(pwd)/build-$arch/TavWebService.exe" \
    "Z:$(pwd)/build-$arch/tests/fixtures/complete/DozUzedoda.dll" "$seconds" "$clients"
done
