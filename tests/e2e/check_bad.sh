#!/usr/bin/env bash
# check_bad.sh FOLDER COMMAND...
# Runs COMMAND with each FOLDER/*.scenario (from inside FOLDER) and checks
# that it exits with 2 and prints exactly the error its first line names:
#   # expect: NAME.scenario:LINE: what is wrong
# Also a folder given as the scenario.
set -u
folder=$1
shift
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
check() {  # NAME EXPECTED
  local name=$1 expected=$2 got status
  # Into a file, not a pipe: a wineserver that the run starts keeps a pipe
  # open for seconds after the program ends.
  (cd "$work" && "${command[@]}" "$name" >/dev/null 2>"$work/.err")
  status=$?
  got=$(cat "$work/.err")
  if [ "$status" != 2 ] || [ "$got" != "$expected" ]; then
    echo "FAIL $name: exit $status"
    echo "  expected: $expected"
    echo "  got:      $got"
    failed=1
  fi
}
command=("$@")
cp "$folder"/*.scenario "$work"/
# Where the emulator runs emulated (PLUMETA_EMULATED, set by ./dev: Wine
# from the Wine root, a second a start), every fourth scenario: the
# messages are the same code as the native build's, which checks them all.
step=1
[ -n "${PLUMETA_EMULATED:-}" ] && step=4
count=0
seen=0
for scenario in "$folder"/*.scenario; do
  seen=$((seen + 1))
  [ $(((seen - 1) % step)) = 0 ] || continue
  name=$(basename "$scenario")
  expected=$(head -n 1 "$scenario" | sed -n 's/^# expect: //p')
  if [ -z "$expected" ]; then
    echo "FAIL $name: its first line does not say '# expect: ...'"
    failed=1
    continue
  fi
  check "$name" "$expected"
  count=$((count + 1))
done
mkdir "$work/a_folder.scenario"
check a_folder.scenario "a_folder.scenario: is a folder, not a scenario file"
echo "$((count + 1)) bad scenarios checked"
exit $failed
