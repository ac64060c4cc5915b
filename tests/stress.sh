#!/usr/bin/env bash
# Streams more than 4 GiB through a pipe into z80db and checks that the grouping
# holds past 2^32 bytes: the line count, the last line, and memory that stays flat.
# Takes a minute or two; not part of the test suite.
#
# usage: tests/stress.sh [path/to/z80db]    (default: build/release/z80db)
set -euo pipefail
cd "$(dirname "$0")/.."
z80db=${1:-build/release/z80db}
[ -x "$z80db" ] || cmake --workflow --preset release >/dev/null

# 2^32 + 13 bytes of a pattern that repeats every 256 bytes (0, 1, ..., 255), so
# the byte at offset i is i mod 256 and the last thirteen are 0 to 12.
size=$(( (1 << 32) + 13 ))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 -c "import sys; sys.stdout.buffer.write(bytes(range(256)) * 4096)" >"$work/block"

/usr/bin/time -f %M -o "$work/rss" "$z80db" /dev/stdin /dev/stdout \
    < <(while :; do cat "$work/block"; done | head -c "$size") |
    tee >(tail -n 1 >"$work/last") | wc -l >"$work/lines"
wait

head -c 1024 "$work/block" >"$work/small.bin"
/usr/bin/time -f %M -o "$work/small-rss" "$z80db" "$work/small.bin" "$work/small.z80"

lines=$(cat "$work/lines")
last=$(cat "$work/last")
rss=$(cat "$work/rss")
want_lines=$(( 1 + (size + 7) / 8 ))
want_last=$'\tdb\t#8,#9,#a,#b,#c'
echo "lines: $lines (want $want_lines)"
echo "last line: $(printf '%q' "$last") (want $(printf '%q' "$want_last"))"
small_rss=$(cat "$work/small-rss")
echo "peak RSS: $rss KiB (for 1 KiB of input: $small_rss KiB)"
status=0
[ "$lines" -eq "$want_lines" ] || { echo "FAIL: line count"; status=1; }
[ "$last" = "$want_last" ] || { echo "FAIL: last line"; status=1; }
[ "$rss" -le 4096 ] && [ "$rss" -le $((small_rss + 256)) ] || { echo "FAIL: memory grew"; status=1; }
[ $status -eq 0 ] && echo "stress: passed"
exit $status
