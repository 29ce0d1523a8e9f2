#!/usr/bin/env bash
# Runs two builds of the headless runner on the default run and on every
# configuration in scripts/compare_configurations.txt (one argument list a line)
# and fails at the first output or exit code that differs. Used to show that a
# change keeps every run bit for bit:
#   scripts/compare_runs.sh OLD/landuse-headless NEW/landuse-headless
set -euo pipefail
old="$1"
new="$2"
configurations="$(dirname "$0")/compare_configurations.txt"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

compare() {
  local label="$1"
  shift
  local old_code=0 new_code=0
  "$old" "$@" > "$work/old" 2>&1 || old_code=$?
  "$new" "$@" > "$work/new" 2>&1 || new_code=$?
  if [ "$old_code" != "$new_code" ] || ! cmp -s "$work/old" "$work/new"; then
    echo "DIFFERENT: $label (exit $old_code against $new_code)"
    diff "$work/old" "$work/new" | head -n 5
    exit 1
  fi
  echo "same: $label ($(wc -l < "$work/new") lines, $(md5sum < "$work/new" | cut -c1-32))"
}

compare "default run"
while read -r line; do
  [ -z "$line" ] && continue
  # shellcheck disable=SC2086
  compare "$line" $line
done < "$configurations"
