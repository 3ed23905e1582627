#!/usr/bin/env bash
# kills.sh COMMAND...
# The host (COMMAND, the emulator without its scenario) killed with SIGKILL
# at chosen instants, then run again: the log must hold every line that was
# reported, once and in order, none torn, and no spill may be left.
#
# - while the log is held, once 10, 100 and 1,000 changes wait in its spill;
# - during a fold of a 57 MB spill (the log grows meanwhile), at several
#   instants: the next run completes the fold without writing a line twice;
# - ending while a second thread logs, the log held and not (on Windows the
#   process's end stops that thread wherever it is, inside the module too).
# KILLS_PART=held|fold|threads runs that part alone (ctest runs the three
# side by side); all three by default.
set -u
part() { [ -z "${KILLS_PART:-}" ] || [ "$KILLS_PART" = "$1" ]; }
work=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
failed=0

cat >contact.scenario <<'SCENARIO'
setting SaveToHistory 0
setting SaveToFile 1
contact 1 ContactDisplay "Ania"
contact 1 ContactUid "123"
contact 1 ContactNet 12
contact 1 ContactGender "1"
SCENARIO
{ cat contact.scenario; echo 'hold "statusy.txt" read'; echo 'repeat 1000000 status 1 64 "{n}"'; } >held.scenario
{ cat contact.scenario; echo 'status 1 64 "nowa"'; echo 'repeat 1000000 status 1 64 "x{n}"'; } >busy.scenario
{ cat contact.scenario; echo 'status 1 64 "koniec"'; } >last.scenario

lines() { [ -f "$1" ] && tr -cd '\n' <"$1" | wc -c || echo 0; }
size() { [ -f "$1" ] && stat -c %s "$1" || echo 0; }
# Kills the emulator started last, with all it started (Wine's loader).
kill_host() {
  local pid=$1
  pkill -9 -P "$pid" 2>/dev/null
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
# The log must be: lines [1] to [N] (N >= $2), then, from $3 on, the tags
# that may follow ("nowa", then "x1", "x2", ... as far as they came), then
# "koniec"; every line whole.
check() {
  local what=$1 least=$2
  LC_ALL=C awk -v least="$least" -v what="$what" '
    BEGIN { n = 0; x = 0; tail = 0 }
    $0 !~ /^[0-3][0-9]\.[01][0-9] [0-2][0-9]:[0-5][0-9]\.[0-5][0-9] Ania\(123@JABBER\) zmienila status na dostepna \[[^]]*\]\r$/ {
      printf "%s: line %d is not whole: %s\n", what, NR, $0; bad = 1; next }
    {
      tag = $0; sub(/.*\[/, "", tag); sub(/\]\r$/, "", tag)
      if (tag ~ /^[0-9]+$/ && !tail) {
        if (tag != n + 1) { printf "%s: line %d is [%s] after [%d]\n", what, NR, tag, n; bad = 1 }
        n = tag
      } else if (tag == "nowa" && !tail) { tail = 1
      } else if (tag ~ /^x[0-9]+$/ && tail == 1) {
        if (substr(tag, 2) != x + 1) { printf "%s: line %d is [%s] after [x%d]\n", what, NR, tag, x; bad = 1 }
        x = substr(tag, 2)
      } else if (tag == "koniec") { tail = 2; last = NR
      } else { printf "%s: line %d is [%s] out of its place\n", what, NR, tag; bad = 1 }
    }
    END {
      if (n < least) { printf "%s: only %d of at least %d lines\n", what, n, least; bad = 1 }
      if (last != NR) { printf "%s: [koniec] is not the last line\n", what; bad = 1 }
      exit bad
    }' logs/statusy.txt || return 1
  if [ "$(size logs/statusy-zalegle.log)" != 0 ]; then
    echo "$what: a spill is left: $(lines logs/statusy-zalegle.log) lines"
    return 1
  fi
}

# Killed while the log is held, with N lines in its spill.
part held && for waiting in 10 100 1000; do
  rm -rf logs
  "$@" --quiet --workdir logs held.scenario >run.out 2>&1 &
  host=$!
  for _ in $(seq 600); do
    [ "$(lines logs/statusy-zalegle.log)" -gt "$waiting" ] && break
    sleep 0.05
  done
  kill_host "$host"
  spilled=$(($(lines logs/statusy-zalegle.log) - 1))
  "$@" --quiet --workdir logs last.scenario >last.out 2>&1 || { cat last.out; failed=1; }
  if check "killed while held, $spilled waiting" "$waiting"; then
    echo "killed while held: $spilled lines waited in the spill, all came in once and in order"
  else
    failed=1
  fi
done

# Killed in the middle of a fold, at several instants after it began: a
# 57 MB spill, or 14 MB where the host is emulated (PLUMETA_EMULATED, set by
# ./dev), whose fold takes as long.
fold_lines=800000
[ -n "${PLUMETA_EMULATED:-}" ] && fold_lines=200000
if part fold; then
  rm -rf logs
  mkdir logs
  header='#plumeta-zalegle od=-------------------- usuniete=0000000000 przesuw=-------------------- doszlo=--------------------'
  LC_ALL=C awk -v header="$header" -v fold_lines="$fold_lines" 'BEGIN {
    printf "%s\r\n", header > "logs/statusy-zalegle.log"
    for (n = 1; n <= fold_lines; n++) {
      line = sprintf("09.12 17:00.00 Ania(123@JABBER) zmienila status na dostepna [%d]\r\n", n)
      if (n <= 1000) printf "%s", line > "logs/statusy.txt"; else printf "%s", line > "logs/statusy-zalegle.log"
    }
  }'
  cp logs/statusy.txt log.before
  cp logs/statusy-zalegle.log spill.before
  before=$(size logs/statusy.txt)
  full=$(($(size logs/statusy.txt) + $(size logs/statusy-zalegle.log) - ${#header} - 2))
  cut_short=0
  for delay in 0 0 0.001 0.002 0.003 0.004 0.02 0.08; do
    cp log.before logs/statusy.txt
    cp spill.before logs/statusy-zalegle.log
    "$@" --quiet --workdir logs busy.scenario >run.out 2>&1 &
    host=$!
    for _ in $(seq 20000); do
      [ "$(size logs/statusy.txt)" -gt "$before" ] && break
    done
    sleep "$delay"
    kill_host "$host"
    at=$(size logs/statusy.txt)
    [ "$at" -lt "$full" ] && cut_short=$((cut_short + 1))
    "$@" --quiet --workdir logs last.scenario >last.out 2>&1 || { cat last.out; failed=1; }
    check "killed ${delay}s into a fold, the log at $at of $full bytes" "$fold_lines" || failed=1
  done
  echo "killed during a fold: $cut_short of 8 kills fell inside it; every line came in once, in order"
fi

# Ending while a second thread logs: both threads' lines whole, each in its
# order, once; then the next run's.
part threads && for held in yes no; do
  rm -rf logs
  { cat contact.scenario; [ $held = yes ] && echo 'hold "statusy.txt" read'
    echo 'background 20000 status 1 64 "t{n}"'; echo 'repeat 2000 status 1 64 "{n}"'; } >threads.scenario
  "$@" --quiet --workdir logs threads.scenario >run.out 2>&1 || { cat run.out; failed=1; }
  "$@" --quiet --workdir logs last.scenario >last.out 2>&1 || { cat last.out; failed=1; }
  LC_ALL=C awk -v held=$held '
    $0 !~ /^[0-3][0-9]\.[01][0-9] [0-2][0-9]:[0-5][0-9]\.[0-5][0-9] Ania\(123@JABBER\) zmienila status na dostepna \[[^]]*\]\r$/ {
      printf "threads (held: %s): line %d is not whole: %s\n", held, NR, $0; bad = 1; next }
    {
      tag = $0; sub(/.*\[/, "", tag); sub(/\]\r$/, "", tag)
      if (tag ~ /^[0-9]+$/) { if (tag != n + 1) { printf "threads: [%s] after [%d]\n", tag, n; bad = 1 }; n = tag }
      else if (tag ~ /^t[0-9]+$/) { if (substr(tag, 2) != t + 1) { printf "threads: [%s] after [t%d]\n", tag, t; bad = 1 }; t = substr(tag, 2) }
      else if (tag == "koniec") last = NR
      else { printf "threads: [%s]\n", tag; bad = 1 }
    }
    END {
      if (n != 2000 || last != NR) { printf "threads (held: %s): %d of 2000 lines, [koniec] at %d of %d\n", held, n, last, NR; bad = 1 }
      else printf "ended while a second thread logged (held: %s): its %d lines and the 2,000 others whole, in order, once\n", held, t
      exit bad
    }' logs/statusy.txt || failed=1
  [ "$(size logs/statusy-zalegle.log)" = 0 ] || { echo "threads: a spill is left"; failed=1; }
done
exit $failed
