#!/usr/bin/env bash
# wine_cold_start.sh RUNS PROGRAM [ARG...]
# Runs a Windows PROGRAM under Wine RUNS times, each with a wineserver of
# its own (a cold start, as when no Wine program ran for a few seconds), and
# reports every "Unhandled page fault" or winedbg start on its standard
# error together with the process the faulting thread belongs to.
#
# A cold start makes Wine start its own services beside the program
# (wineboot, services, winedevice twice, plugplay, svchost, rpcss, explorer),
# which inherit its standard error; a program that ends within milliseconds
# has the wineserver tear them down while they start. The program's own
# thread is the first one (0024 on a cold start). Not part of ./dev test: a
# diagnosis tool, for a fault seen once in e2e_bad_scenarios.
set -u
runs=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/plumeta-wine}
faults=0
for i in $(seq "$runs"); do
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  WINEDEBUG=+process "$here/../../tools/wine-run" "$@" >/dev/null 2>"$work/err"
  status=$?
  if grep -qiE 'page fault|winedbg|Unhandled exception' "$work/err"; then
    faults=$((faults + 1))
    thread=$(grep -oiE 'thread [0-9a-f]{4}' "$work/err" | head -n 1 | cut -d' ' -f2)
    owner="the program"
    while read -r _ tid name; do
      [ $((16#$tid)) -le $((16#${thread:-0})) ] && owner=$name
    done < <(grep -E "NtCreateUserProcess .*pid [0-9a-f]+ tid [0-9a-f]+" "$work/err" |
      sed -E 's/.*NtCreateUserProcess L"([^"]*)".*pid ([0-9a-f]+) tid ([0-9a-f]+).*/\2 \3 \1/')
    echo "run $i: exit $status; a fault in thread $thread, after the first thread of $owner"
    grep -iE 'page fault|winedbg' "$work/err" | head -n 3
  fi
done
wineserver -w 2>/dev/null
echo "$runs cold starts, $faults with a fault"
