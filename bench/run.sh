#!/usr/bin/env bash
# Builds the Release program and its benchmarks, then measures z80db beside its
# peers on this machine, each pair side by side in one run, medians throughout:
#   peer    a 64 MiB random input to /dev/null, against xxd -i
#   floor   a 256 MiB random input to a listing on tmpfs, against cat copying
#           the same finished listing there
#   small   a 4 KiB input converted, against cat of that file, per process
#   memory  peak resident memory for a 1 KiB and a 256 MiB input
# Needs hyperfine, xxd, python3 and GNU time (apt-get install hyperfine xxd time).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

for tool in hyperfine xxd python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench/run.sh: $tool is missing" >&2; exit 1; }
done

cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
z80db=$root/build/bench/z80db

work=$(mktemp -d -p /dev/shm z80db-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c $((64 << 20)) /dev/urandom >r64.bin
head -c $((256 << 20)) /dev/urandom >r256.bin
head -c 4096 /dev/urandom >r4k.bin
head -c 1024 /dev/urandom >r1k.bin
"$z80db" r256.bin listing.z80

echo "== formatting core"
"$root/build/bench/bench/format_bench" --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "median|^-|Benchmark"

echo "== whole program (this takes a few minutes)"
hyperfine -N -w 1 -r 5 --export-json peer.json \
    "$z80db r64.bin /dev/null" "xxd -i r64.bin" >/dev/null
# Alternating runs, as the writes to tmpfs drift with the machine's memory.
"$root/bench/alternate.py" 20 "cat listing.z80 > copy.z80" "$z80db r256.bin out.z80" >floor.txt
hyperfine -N -w 20 -r 300 --export-json small.json \
    "$z80db r4k.bin small.z80" "cat r4k.bin" >/dev/null

peak() {  # median peak RSS in KiB over five runs
    for _ in 1 2 3 4 5; do /usr/bin/time -f %M "$z80db" "$1" rss.z80 2>&1 >/dev/null; done |
        sort -n | sed -n 3p
}
small_rss=$(peak r1k.bin)
large_rss=$(peak r256.bin)

python3 - "$small_rss" "$large_rss" <<'PY'
import json, sys

def medians(name):
    return [r["median"] for r in json.load(open(name))["results"]]

z, xxd = medians("peer.json")
print(f"peer    64 MiB to /dev/null: z80db {z*1e3:8.1f} ms   xxd -i {xxd*1e3:8.1f} ms   "
      f"{xxd / z:6.1f}x the throughput (target at least 100x)")
cat, z = [line.split() for line in open("floor.txt")]
print(f"floor   256 MiB to tmpfs:    z80db {float(z[0]):8.1f} ms   cat    {float(cat[0]):8.1f} ms   "
      f"{float(z[2][:-1]):6.2f}x the time (target at most 1.2x)")
z, cat = medians("small.json")
print(f"small   4 KiB:               z80db {z*1e6:8.0f} us   cat    {cat*1e6:8.0f} us   "
      f"{z / cat:6.2f}x the time (target at most 1.3x)")
small, large = int(sys.argv[1]), int(sys.argv[2])
print(f"memory  peak RSS:            1 KiB {small:6d} KiB   256 MiB {large:6d} KiB   "
      f"difference {large - small} KiB (targets at most 4096 KiB, difference at most 256 KiB)")
PY
