#!/usr/bin/env bash
# two_writers.sh COMMAND...
# Two host emulators (COMMAND is one of them, without its scenario) log 5,000
# changes each into one file at the same time. The file must hold exactly
# 10,000 whole lines, each writer's all present and in its own order.
set -u
count=5000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for writer in A B; do
  cat >"$work/$writer.scenario" <<SCENARIO
setting SaveToHistory 0
setting SaveToFile 1
setting LogFileName "shared"
contact 1 ContactDisplay "$writer"
contact 1 ContactUid "1"
contact 1 ContactNet 10
contact 1 ContactGender "1"
repeat $count status 1 64 "{n}"
SCENARIO
done
cd "$work"
"$@" --quiet --workdir logs A.scenario >A.out 2>&1 &
first=$!
"$@" --quiet --workdir logs B.scenario >B.out 2>&1
second=$?
wait "$first" || { echo "writer A failed"; cat A.out; exit 1; }
[ "$second" = 0 ] || { echo "writer B failed"; cat B.out; exit 1; }
LC_ALL=C awk -v count="$count" '
  BEGIN { last["A"] = 0; last["B"] = 0 }
  {
    if ($0 !~ /^[0-3][0-9]\.[01][0-9] [0-2][0-9]:[0-5][0-9]\.[0-5][0-9] [AB]\(1@GG\) zmienila status na dostepna \[[0-9]+\]\r$/) {
      printf "line %d is not whole: %s\n", NR, $0; bad++; next
    }
    writer = substr($0, 16, 1)
    n = $0; sub(/.*\[/, "", n); sub(/\]\r$/, "", n)
    if (n != last[writer] + 1) { printf "line %d: %s %d after %d\n", NR, writer, n, last[writer]; bad++ }
    last[writer] = n
  }
  END {
    printf "%d lines; A wrote %d, B wrote %d\n", NR, last["A"], last["B"]
    exit (bad || NR != 2 * count || last["A"] != count || last["B"] != count)
  }' logs/shared.txt
