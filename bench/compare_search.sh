#!/usr/bin/env bash
# Search speed of Brik against Stockfish: bench_search (Brik, fixed depth over
# bench/search_positions.txt) and "stockfish bench" (its own position set,
# depth 13, 16 MB hash, one thread). Prints both nodes-per-second figures,
# their ratio and Brik's node signature. Each program runs RUNS times
# (default 2) and the fastest run counts.
#
# Nodes per second measure raw speed only: the two programs search different
# trees with very different evaluations, so the ratio says nothing about
# playing strength.
#
#   bench/compare_search.sh           environment: RUNS, BUILD_DIR, STOCKFISH
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-benchmarks}
stockfish=${STOCKFISH:-/usr/games/stockfish}
runs=${RUNS:-2}

[ -x "$stockfish" ] || { echo "Stockfish not found at $stockfish (apt-get install -y stockfish)" >&2; exit 1; }
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build_dir" bench_search >/dev/null
bench=$build_dir/bench/bench_search
[ -x "$bench" ] || { echo "bench_search was not built (is Google Benchmark installed? apt-get install -y libbenchmark-dev)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# bench_search replaces its own standard input with an idle pipe, so what it
# is given here does not matter; /dev/null keeps it off the terminal.
brik_best=0 signature=""
for ((i = 0; i < runs; i++)); do
    (cd "$work" && "$bench" </dev/null >"$work/brik.out" 2>"$work/brik.err") || {
        cat "$work/brik.out" "$work/brik.err" >&2
        exit 1
    }
    line=$(grep '^bench_search: positions' "$work/brik.err") || { cat "$work/brik.err" >&2; exit 1; }
    nodes=$(awk '{ for (i = 1; i < NF; i++) if ($i == "nodes") print $(i + 1) }' <<<"$line")
    nps=$(awk '{ for (i = 1; i < NF; i++) if ($i == "nps") print $(i + 1) }' <<<"$line")
    depth=$(awk '{ for (i = 1; i < NF; i++) if ($i == "depth") print $(i + 1) }' <<<"$line")
    positions=$(awk '{ for (i = 1; i < NF; i++) if ($i == "positions") print $(i + 1) }' <<<"$line")
    if [ -n "$signature" ] && [ "$signature" != "$nodes" ]; then
        echo "Brik's node count changed between runs: $signature, then $nodes" >&2
        exit 1
    fi
    signature=$nodes
    if awk -v a="$nps" -v b="$brik_best" 'BEGIN { exit !(a > b) }'; then brik_best=$nps; fi
done

sf_best=0 sf_nodes=""
for ((i = 0; i < runs; i++)); do
    (cd "$work" && "$stockfish" bench </dev/null >/dev/null 2>"$work/sf.err")
    nps=$(awk -F: '/^Nodes\/second/ { gsub(/ /, "", $2); print $2 }' "$work/sf.err")
    sf_nodes=$(awk -F: '/^Nodes searched/ { gsub(/ /, "", $2); print $2 }' "$work/sf.err")
    [ -n "$nps" ] || { cat "$work/sf.err" >&2; exit 1; }
    if ((nps > sf_best)); then sf_best=$nps; fi
done

awk -v b="$brik_best" -v s="$sf_best" -v sig="$signature" -v d="$depth" -v p="$positions" -v sfn="$sf_nodes" -v n="$runs" 'BEGIN {
    printf "Brik bench_search   %12.0f nodes/s   (%d positions, depth %d, node signature %s)\n", b, p, d, sig
    printf "Stockfish bench     %12.0f nodes/s   (%s nodes)\n", s, sfn
    printf "ratio Brik/Stockfish %.3f   (best of %d runs each)\n", b / s, n
}'
