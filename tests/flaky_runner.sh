#!/bin/sh
# A runner that fails every other start the way Wine now and then fails one:
# exit code 1 and no output at all. `flaky_runner.sh COUNTER PROGRAM [ARG...]`
# counts its starts in the file COUNTER and runs PROGRAM on every second one.
# The black-box driver under it must retry each failed start once and pass.
set -eu
counter=$1
shift
count=$(($(cat "$counter" 2>/dev/null || echo 0) + 1))
echo "$count" >"$counter"
[ $((count % 2)) -eq 0 ] || exit 1
exec "$@"
