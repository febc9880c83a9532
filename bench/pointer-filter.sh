#!/bin/bash
# What the keyboard pointer's application-wide event filter costs: the same
# fixed workload (key presses and releases typed through the window as the
# evdev keyboard delivers them, and synchronous repaints) without and with the
# pointer installed, counted in instructions by callgrind (Qt's hash seed
# fixed). The same binary and input still differ by up to about 0.15 % from
# run to run, in steps of some 670 000 instructions, now and then some work
# done once more: each variant runs REPEATS times, alternately, and the lowest
# count stands for it. Prints the cost per delivered event side by side and the
# overhead; passes or fails nothing (target: at most 5 %).
# Usage: bench/pointer-filter.sh BUILD_DIR [ROUNDS] [REPEATS]
set -eu
build=$(readlink -f "$1")
rounds=${2:-2000}
repeats=${3:-3}
workload=$build/bench/pointer/pointer-workload
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

declare -A instructions events counts
for _ in $(seq "$repeats"); do
    for variant in without with; do
        out=$(QT_HASH_SEED=0 valgrind --tool=callgrind --collect-atstart=no \
            --callgrind-out-file="$scratch/$variant.out" \
            "$workload" filter "$variant" "$rounds" 2> "$scratch/$variant.log")
        events[$variant]=$(echo "$out" | awk '/^events/ {print $2}')
        count=$(awk '/^summary:/ {print $2}' "$scratch/$variant.out")
        counts[$variant]="${counts[$variant]:-} $count"
        if [ -z "${instructions[$variant]:-}" ] || [ "$count" -lt "${instructions[$variant]}" ]; then
            instructions[$variant]=$count
        fi
    done
done

echo "workload: $rounds rounds of key press, key release and repaint; offscreen platform"
echo "instructions per run, without:${counts[without]}; with:${counts[with]}"
awk -v wi="${instructions[without]}" -v we="${events[without]}" \
    -v pi="${instructions[with]}" -v pe="${events[with]}" 'BEGIN {
    printf "%-18s %14s %10s %16s\n", "", "instructions", "events", "instr. per event"
    printf "%-18s %14d %10d %16.1f\n", "without pointer", wi, we, wi / we
    printf "%-18s %14d %10d %16.1f\n", "with pointer", pi, pe, pi / pe
    printf "filter overhead: %+.1f instructions per event, %+.2f %% (target at most 5 %%)\n",
        pi / pe - wi / we, (pi / pe) / (wi / we) * 100 - 100
}'
