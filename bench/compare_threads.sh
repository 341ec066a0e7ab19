#!/usr/bin/env bash
# Speed of the parallel search: for each thread count, nodes per second of a
# 5 s search from the start position and the time the search takes to finish
# depth 20 there. Each figure is the median of RUNS runs (default 3), every
# run from a fresh engine (empty table).
#
# Run it on an otherwise idle machine: with more threads than idle cores the
# figures only show the load.
#
#   bench/compare_threads.sh [engine]     environment: RUNS, THREADS (default "1 2")
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
engine=${1:-$root/build/brik}
runs=${RUNS:-3}
thread_counts=${THREADS:-1 2}
[ -x "$engine" ] || { echo "no engine at $engine (scripts/build)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints the score lines of one search, read until its bestmove.
search() {
    local threads=$1 go=$2
    coproc ENGINE { cd "$work" && exec "$engine"; }
    printf 'uci\nsetoption name Threads value %s\nisready\nposition startpos\n%s\n' "$threads" "$go" >&"${ENGINE[1]}"
    local line
    while IFS= read -r line <&"${ENGINE[0]}"; do
        case $line in
        "info depth "*" seldepth "*) echo "$line" ;;
        bestmove*) break ;;
        esac
    done
    printf 'quit\n' >&"${ENGINE[1]}"
    wait "$ENGINE_PID" 2>/dev/null || true
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

field() { awk -v name="$1" '{ for (i = 1; i < NF; i++) if ($i == name) print $(i + 1) }'; }

printf '%-8s %14s %16s\n' threads "nps (5 s)" "ms to depth 20"
for threads in $thread_counts; do
    nps=$(for ((i = 0; i < runs; i++)); do search "$threads" "go movetime 5000" | tail -1 | field nps; done | median)
    ms=$(for ((i = 0; i < runs; i++)); do
        search "$threads" "go depth 20" | grep '^info depth 20 ' | head -1 | field time
    done | median)
    printf '%-8s %14s %16s\n' "$threads" "$nps" "$ms"
done
