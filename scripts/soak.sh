#!/usr/bin/env bash
# Soak run of the headless runner: cell size 2 with migration, roulette wheel and
# track decay on, for 10,000 and for 100,000 steps (about a minute in all on a
# quiet machine). Prints the peak resident memory, the time and the last line of
# statistics of each run, and fails if any value written (statistics, agents,
# cells) is not a number or infinite. Usage: scripts/soak.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
runner="${1:-build}/app/landuse-headless"
[ -x "$runner" ] || { echo "no $runner: run scripts/build.sh first" >&2; exit 1; }
command -v /usr/bin/time > /dev/null || scripts/install_packages.sh time

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
for steps in 10000 100000; do
  /usr/bin/time -f "%M %e" -o "$out/usage" "$runner" --steps "$steps" --set Edit_size=2 --set CB_migrate=1 \
    --set rb_rulette=1 --set CB_decay=1 --stats "$out/stats.csv" --agents "$out/agents.csv" --cells "$out/cells.csv"
  read -r peak seconds < "$out/usage"
  echo "$steps steps: peak resident memory ${peak} kB, ${seconds} s; last step: $(tail -n 1 "$out/stats.csv")"
  if grep -qiE 'nan|inf' "$out/stats.csv" "$out/agents.csv" "$out/cells.csv"; then
    echo "a value that is not a number or infinite after $steps steps" >&2
    exit 1
  fi
done
