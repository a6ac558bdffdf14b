#!/usr/bin/env bash
# --help and -h of every tool: the usage on standard output, nothing on
# standard error, exit 0. Bad usage: a message on standard error, nothing on
# standard output, exit 2.
set -u
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail=0
run() {  # run WANT_EXIT WHAT -- command...
    local want=$1 what=$2; shift 3
    "$@" >"$dir/out" 2>"$dir/err" </dev/null; local got=$?
    if [ "$got" != "$want" ]; then echo "FAIL: $what: exit $got, want $want"; cat "$dir/err"; fail=1; fi
}
help_ok() {  # help_ok NAME -- command...
    local name=$1; shift 2
    run 0 "$name $*" -- "$@"
    grep -q "^usage: $name" "$dir/out" || { echo "FAIL: $name $*: no usage on standard output"; fail=1; }
    [ -s "$dir/err" ] && { echo "FAIL: $name $*: wrote on standard error: $(cat "$dir/err")"; fail=1; }
}
usage_error() {  # usage_error NAME -- command...
    local name=$1; shift 2
    run 2 "$name $*" -- "$@"
    [ -s "$dir/out" ] && { echo "FAIL: $name $*: wrote on standard output: $(cat "$dir/out")"; fail=1; }
    grep -q "$name" "$dir/err" || { echo "FAIL: $name $*: no message on standard error"; fail=1; }
}

for tool in "$@"; do
    name=$(basename "$tool")
    help_ok "$name" -- "$tool" --help
    help_ok "$name" -- "$tool" -h
    usage_error "$name" -- "$tool" --no-such-option
done
exit $fail
