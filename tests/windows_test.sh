#!/usr/bin/env bash
# The Windows program run under wine: a listing with CRLF line ends, the usage
# line and its status, and the report of a missing input.
#
# usage: tests/windows_test.sh path/to/z80db.exe
set -u
exe=$(realpath "$1")
export WINEDEBUG=-all
# wine passes arguments and file names between Linux and Windows in the locale's
# encoding: UTF-8, whatever the machine's locale.
export LC_ALL=C.UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The first run under wine sets up its prefix and says so on standard error.
wine "$exe" >/dev/null 2>&1
passed=0
failed=0
expect() {  # expect WHAT ACTUAL WANTED
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL: %s\n  got:  %q\n  want: %q\n' "$1" "$2" "$3"
    fi
}

printf '\x00\x0a\x10\x7f\x80\xff\x01\x02\x03' >ten.bin
wine "$exe" ten.bin ten.z80 >out.txt 2>err.txt
expect "conversion status" "$?" 0
expect "conversion output" "$(od -An -c ten.z80 | tr -s ' ')" \
    "$(printf '; Original Datas : ten.bin\r\n\tdb\t#0,#a,#10,#7f,#80,#ff,#1,#2\r\n\tdb\t#3\r\n' | od -An -c | tr -s ' ')"
expect "conversion prints nothing" "$(cat out.txt err.txt)" ""

head -c 100000 /dev/urandom >long.bin
wine "$exe" long.bin long.z80 >/dev/null 2>&1
expect "long input status" "$?" 0
expect "long input lines" "$(grep -c $'\r$' long.z80)" $((1 + 100000 / 8))

# A name outside any one code page, typed and shown in UTF-8.
name=$'caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac.bin'
printf '\x2a' >"$name"
wine "$exe" "$name" "$name.z80" >/dev/null 2>err.txt
expect "non-ASCII name status" "$?" 0
expect "non-ASCII name in the header" "$(cat "$name.z80")" "$(printf '; Original Datas : %s\r\n\tdb\t#2a\r' "$name")"

wine "$exe" only-one >out.txt 2>err.txt
expect "usage status" "$?" 255
expect "usage line" "$(grep -c ' <filename.bin> <filename.z80>'$'\r''$' out.txt)" 1
expect "usage leaves standard error empty" "$(cat err.txt)" ""

wine "$exe" missing.bin out.z80 >out.txt 2>err.txt
expect "missing input status" "$?" 1
expect "missing input message" "$(tr -d '\r' <err.txt)" \
    "z80db: cannot open input 'missing.bin': No such file or directory"
expect "missing input leaves no output" "$(ls out.z80 2>/dev/null)" ""

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
