#!/usr/bin/env bash
# runs.sh SCENARIO... -- COMMAND...
# Runs COMMAND --workdir logs SCENARIO for each SCENARIO in turn, in the
# current folder: later runs find what earlier ones left. Stops at the first
# that fails, with its exit code.
set -u
scenarios=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do scenarios+=("$1"); shift; done
shift
for scenario in "${scenarios[@]}"; do
  "$@" --workdir logs "$scenario" || exit $?
done
