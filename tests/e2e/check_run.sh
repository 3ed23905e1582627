#!/usr/bin/env bash
# check_run.sh EXIT EXPECTED COMMAND...
# Runs COMMAND in a fresh folder and compares what it prints (standard output,
# then standard error) with the file EXPECTED, after masking what depends on
# the clock: a history entry's time (checked to be the current time) and the
# log lines' stamps (checked for their form). Fails unless it exits with EXIT.
set -u
want_exit=$1 expected=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
before=$(date +%s)
"$@" >stdout 2>stderr
got_exit=$?
after=$(date +%s)

status=0
if [ "$got_exit" != "$want_exit" ]; then
  echo "exit code $got_exit, expected $want_exit"
  status=1
fi
# Every entry time lies between the run's start and end.
for t in $(grep -oE 'time=[0-9]+' stdout | cut -d= -f2); do
  if [ "$t" -lt "$before" ] || [ "$t" -gt "$after" ]; then
    echo "entry time $t is not the time of the run ($before..$after)"
    status=1
  fi
done
cat stdout stderr |
  sed -E -e 's/time=[0-9]+/time=<now>/g' \
    -e 's/"[0-3][0-9]\.[01][0-9] [0-2][0-9]:[0-5][0-9]\.[0-5][0-9] /"DD.MM hh:mm.ss /' \
    -e 's/  "Zmianiles status [0-3][0-9]\.[01][0-9] [0-2][0-9]:[0-5][0-9]\.[0-5][0-9] /  "Zmianiles status DD.MM hh:mm.ss /' \
    -e 's#(^|[ "])(/[^ /"]+)+/#\1#g' -e 's#\.(so|dll)\b#.<module>#g' >actual
if [ -n "${UPDATE_EXPECTED:-}" ]; then
  cp actual "$expected"
fi
if ! diff -u "$expected" actual; then
  status=1
fi
exit $status
