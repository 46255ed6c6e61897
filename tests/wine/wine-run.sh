#!/bin/sh
# Runs a Windows program under Wine for ctest and for test discovery.
#
# The first Wine program of a session starts Wine's background services, which inherit its
# standard output and error and outlive it; if those were ctest's pipes, ctest would wait
# for them to close until its time-out. So the program writes into files of its own, which
# are passed on once it has ended.
out=$(mktemp) || exit 1
err=$(mktemp) || exit 1
wine "$@" </dev/null >"$out" 2>"$err"
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
