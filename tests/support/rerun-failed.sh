#!/usr/bin/env bash
# Runs a Qt test program and runs the test functions that failed again, up to twice. The
# audio-server tests depend on a real server's timing: on a loaded machine PipeWire now and then
# drops a cycle of a stream or lags a move, which costs one function its check; a fault of ours
# fails every time.
set -uo pipefail
program=$1
shift
output=$("$program" "$@" 2>&1)
status=$?
printf '%s\n' "$output"
for round in 1 2; do
    [ "$status" -eq 0 ] && exit 0
    # "FAIL!  : Class::function(row) ..." → "function:row", or "function" without a row.
    mapfile -t failed < <(printf '%s\n' "$output" |
        sed -n 's/^FAIL!  : [^:]*::\([^(]*\)(\([^)]*\)).*/\1:\2/p' | sed 's/:$//' | sort -u)
    # A crash, or a failure outside the test functions: nothing to narrow down.
    [ "${#failed[@]}" -eq 0 ] && exit "$status"
    echo "Running again (round $round): ${failed[*]}"
    output=$("$program" "${failed[@]}" 2>&1)
    status=$?
    printf '%s\n' "$output"
done
exit "$status"
