#!/usr/bin/env bash
# check_module_log.sh EXPECTED SCENARIO EMULATOR... -- READER...
# The real module writes the logs of SCENARIO through the host emulator; then
# plumeta-log reads them back as CSV, which must equal EXPECTED once the
# stamps (the time of the run) are masked.
set -u
expected=$1 scenario=$2
shift 2
emulator=()
while [ "$1" != "--" ]; do emulator+=("$1"); shift; done
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"${emulator[@]}" --quiet --workdir logs "$scenario" >/dev/null || { echo "the emulator failed"; exit 1; }
"$@" csv logs/statusy.txt "logs/wieczór.txt" >read.csv 2>read.err || { echo "plumeta-log failed"; cat read.err; exit 1; }
[ -s read.err ] && { echo "plumeta-log warned:"; cat read.err; exit 1; }
sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2},/<time>,/' read.csv >masked.csv
if [ -n "${UPDATE_EXPECTED:-}" ]; then cp masked.csv "$expected"; fi
diff -u "$expected" masked.csv
