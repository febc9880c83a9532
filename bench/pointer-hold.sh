#!/bin/bash
# What a held arrow key costs: CPU time per second of the process while the
# pointer's 16 ms movement clock runs (the arrow moving, being repainted and
# hovering the widgets under it, turned round at the screen's edges), against
# the same window with the pointer on and no key held, alternately in one run.
# Offscreen platform, software painting. Prints medians and the difference in
# per cent of one core; passes or fails nothing (target: at most 2 %).
# Usage: bench/pointer-hold.sh BUILD_DIR [ROUNDS] [SECONDS]
set -eu
build=$(readlink -f "$1")
rounds=${2:-5}
seconds=${3:-3}
workload=$build/bench/pointer/pointer-workload

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

idle=()
hold=()
moves=()
for _ in $(seq "$rounds"); do
    idle+=("$("$workload" idle "$seconds" 2> /dev/null | awk '{print $2}')")
    line=$("$workload" hold "$seconds" 2> /dev/null)
    hold+=("$(echo "$line" | awk '{print $2}')")
    moves+=("$(echo "$line" | awk '{print $4}')")
done
idle_median=$(printf '%s\n' "${idle[@]}" | median)
hold_median=$(printf '%s\n' "${hold[@]}" | median)
moves_median=$(printf '%s\n' "${moves[@]}" | median)

echo "$rounds rounds of $seconds s each, alternately; CPU ms per wall-clock second"
echo "  no key held:    ${idle[*]}  (median $idle_median)"
echo "  arrow held:     ${hold[*]}  (median $hold_median, $moves_median arrow moves per second)"
awk -v i="$idle_median" -v h="$hold_median" 'BEGIN {
    printf "held arrow: %.2f %% of one core in all, %.2f %% above idle (target at most 2 %%)\n", h / 10, (h - i) / 10
}'
