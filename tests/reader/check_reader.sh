#!/usr/bin/env bash
# [QUICK=1] check_reader.sh FOLDER COMMAND...
# Runs plumeta-log (COMMAND) on each hand-made log FOLDER/NAME.txt and
# compares, byte for byte, its csv with NAME.csv, its json with NAME.jsonl and
# what it reports on standard error with NAME.warnings. Then (unless QUICK):
# the year from the file's modification time, a missing file (exit 1,
# reported after the others) and bad usage (exit 2).
set -u
# Never a browser or a message box from a test; JSON's offsets those of UTC,
# wherever the test runs.
export PLUMETA_LOG_NO_OPEN=1 TZ=UTC
folder=$1
shift
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$folder"/old_style.txt "$folder"/tricky_names.txt "$folder"/clock_set_back.txt "$folder"/report.txt "$work"/
cd "$work"
fail() { echo "FAIL: $*"; failed=1; }
same() {  # EXPECTED ACTUAL WHAT
  cmp -s "$1" "$2" || { fail "$3"; diff "$1" "$2" | head -n 20; }
}
for log in old_style.txt tricky_names.txt clock_set_back.txt; do
  name=${log%.txt}
  "$@" csv --year 2026 "$log" >"$name.csv" 2>/dev/null || fail "$name: csv exit $?"
  "$@" json --year 2026 "$log" >"$name.jsonl" 2>"$name.warnings" || fail "$name: json exit $?"
  for kind in csv jsonl warnings; do same "$folder/$name.$kind" "$name.$kind" "$name.$kind"; done
done
# QUICK=1: the samples only (another build of the same program).
if [ "${QUICK:-0}" = 1 ]; then
  [ $failed = 0 ] && echo "plumeta-log: the samples read the same"
  exit $failed
fi

# last-seen (a table and CSV) and a day's timeline, on two of the logs.
"$@" last-seen --year 2026 old_style.txt tricky_names.txt >last-seen.txt 2>/dev/null || fail "last-seen exit $?"
"$@" last-seen --csv --year 2026 old_style.txt tricky_names.txt >last-seen.csv 2>/dev/null || fail "last-seen --csv exit $?"
"$@" timeline --day 2026-01-01 --out timeline.svg --year 2026 old_style.txt 2>/dev/null || fail "timeline exit $?"
for result in last-seen.txt last-seen.csv timeline.svg; do same "$folder/$result" "$result" "$result"; done

# Without --year the last record takes the year of the file's modification.
touch -d '2027-01-05 12:00' old_style.txt
years=$("$@" csv old_style.txt 2>/dev/null | sed -n 's/^\([0-9]\{4\}\)-.*/\1/p' | tr '\n' ' ')
[ "$years" = "2026 2026 2027 2027 2027 2027 " ] || fail "years from the modification time: $years"

# A missing file: the others are read, then it is reported, exit 1.
"$@" show --year 2026 no_such.txt clock_set_back.txt >show.out 2>show.err
status=$?
[ "$status" = 1 ] || fail "missing file: exit $status"
[ "$(tail -n 1 show.err)" = "no_such.txt: cannot be read" ] || fail "missing file: $(cat show.err)"
[ "$(wc -l <show.out)" = 3 ] || fail "missing file: the other file's 3 changes, got $(wc -l <show.out)"

# An output that cannot be written, every command: a full disk (/dev/full)
# and standard output closed; for the long ones also a 64 KiB file size
# limit (a small disk), met by 400 copies of a log: exit 1 with the reason.
for i in $(seq 400); do cat tricky_names.txt; done >long.txt
# Where the program runs emulated (PLUMETA_EMULATED, set by ./dev), a start
# costs a second: a streamed output and the page only there; the native
# reader preset takes every command.
commands=(csv json show last-seen "timeline --day 2026-01-01" report)
[ -n "${PLUMETA_EMULATED:-}" ] && commands=(csv report)
for command in "${commands[@]}"; do
  ways="full closed"
  case $command in csv | json | show) ways="full limit closed" ;; esac
  for to in $ways; do
    case $to in
      full) "$@" $command --year 2026 old_style.txt >/dev/full 2>out.err; status=$? ;;
      limit) (trap '' XFSZ; ulimit -f 64; "$@" $command --year 2026 long.txt >limited.out 2>out.err); status=$? ;;
      closed) "$@" $command --year 2026 old_style.txt >&- 2>out.err; status=$? ;;
    esac
    [ "$status" = 1 ] && grep -q '^plumeta-log: cannot write the output: ' out.err ||
      fail "$command to a $to output: exit $status, $(tail -n 1 out.err)"
  done
done

# report: the facts the page carries for programs (data-*), on a morning
# whose shares are known: the log covers Monday 08:00-12:00.
"$@" report --year 2026 --out report.html report.txt 2>report.err || fail "report exit $?"
facts() {
  LC_ALL=C awk '
    /data-records=/ { sub(/.*data-records="/, ""); sub(/".*/, ""); printf "records %s\n", $0 }
    /data-skipped=/ { sub(/.*data-skipped="/, ""); sub(/".*/, ""); printf "skipped %s\n", $0 }
    /^<section class="contact"/ {
      line = $0; out = "contact"
      n = split("network id changes online-since last-seen", names, " ")
      for (i = 1; i <= n; i++) {
        value = "-"
        if (match(line, " data-" names[i] "=\"[^\"]*\"")) value = substr(line, RSTART + length(names[i]) + 8, RLENGTH - length(names[i]) - 9)
        out = out " " names[i] "=" value
      }
      match(line, /data-heat="[^"]*"/); split(substr(line, RSTART + 11, RLENGTH - 12), heat, ",")
      shown = ""
      for (h = 1; h <= 168; h++) if (heat[h] > 0) shown = shown " " (h - 1) ":" heat[h]
      print out " heat" shown
    }
    /^<li><time datetime=/ { sub(/^<li><time datetime="/, ""); sub(/">.*<\/time> /, " "); sub(/<\/li>$/, ""); print "  " $0 }
  ' "$1"
}
facts report.html >report.facts
same "$folder/report.facts" report.facts report.facts
grep -q '^report.txt:5: wiersz z datą, ale bez „(”$' report.html || fail "report: the skipped line is not listed, in Polish"
printf '' >empty.txt
"$@" report --out empty.html empty.txt || fail "report of an empty log: exit $?"
grep -q 'Dziennik jest pusty' empty.html || fail "report of an empty log does not say so"

# Log files dropped on the program (no command): the report beside the
# first file, its path printed, nothing opened.
cp report.txt dropped.txt
PLUMETA_LOG_NO_OPEN=1 "$@" dropped.txt old_style.txt >dropped.out 2>/dev/null || fail "drop: exit $?"
grep -q 'dropped\.html' dropped.out || fail "drop: no path printed: $(cat dropped.out)"
grep -q 'data-records="14"' dropped.html || fail "drop: dropped.html does not hold both files"

# Bad usage: exit 2 with the usage (three of them where emulated).
usages=("" "show" "frobnicate x.txt" "csv --since 2026-13-01 x.txt" "csv --network ICQ x.txt"
        "timeline x.txt" "last-seen --contact Ania x.txt")
[ -n "${PLUMETA_EMULATED:-}" ] && usages=("${usages[@]:0:3}")
for usage in "${usages[@]}"; do
  # shellcheck disable=SC2086
  "$@" $usage >/dev/null 2>usage.err
  status=$?
  [ "$status" = 2 ] && grep -q '^usage: plumeta-log' usage.err || fail "bad usage '$usage': exit $status"
done
[ $failed = 0 ] && echo "plumeta-log: every check passed"
exit $failed
