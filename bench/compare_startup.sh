#!/usr/bin/env bash
# Start-up time: from starting the process to reading "uciok" after sending
# "uci", for Brik with "magics.txt" present (tables read from the file), Brik
# without it (magic multipliers searched and the file written), Ethereal and
# Stockfish.
# Each case runs REPS times (default 20), interleaved so that a burst of load
# from other work on the machine hits all cases alike; the medians and the
# ratios of Brik to the others are printed.
#
#   bench/compare_startup.sh          environment: REPS, BUILD_DIR, STOCKFISH, ETHEREAL
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-benchmarks}
stockfish=${STOCKFISH:-/usr/games/stockfish}
ethereal=${ETHEREAL:-/usr/games/ethereal-chess}
reps=${REPS:-20}
reply_timeout=60

[ -x "$stockfish" ] || { echo "Stockfish not found at $stockfish (apt-get install -y stockfish)" >&2; exit 1; }
[ -x "$ethereal" ] || { echo "Ethereal not found at $ethereal (apt-get install -y ethereal-chess)" >&2; exit 1; }
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build_dir" brik >/dev/null
brik=$build_dir/brik

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

microseconds() { local t=${EPOCHREALTIME/./}; echo $((10#$t)); }

# Starts the command "${@:2}" in directory $1 and prints the microseconds
# from the start until "uciok" is read.
time_to_uciok() {
    local dir=$1 line t0 t1
    shift
    t0=$(microseconds)
    coproc ENGINE { cd "$dir" && exec "$@"; }
    printf 'uci\n' >&"${ENGINE[1]}"
    while IFS= read -r -t "$reply_timeout" line <&"${ENGINE[0]}"; do
        if [ "$line" = uciok ]; then
            t1=$(microseconds)
            printf 'quit\n' >&"${ENGINE[1]}"
            wait "$ENGINE_PID" || true
            echo $((t1 - t0))
            return 0
        fi
    done
    echo "no uciok from $*" >&2
    return 1
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The with-file case reuses one directory whose magics.txt a first start wrote.
mkdir "$work/primed"
time_to_uciok "$work/primed" "$brik" >/dev/null
[ -s "$work/primed/magics.txt" ] || { echo "Brik did not write magics.txt" >&2; exit 1; }

: >"$work/with" ; : >"$work/without" ; : >"$work/stockfish" ; : >"$work/ethereal"
for ((i = 0; i < reps; i++)); do
    time_to_uciok "$work/primed" "$brik" >>"$work/with"
    fresh=$(mktemp -d "$work/fresh.XXXXXX")
    time_to_uciok "$fresh" "$brik" >>"$work/without"
    rm -rf "$fresh"
    time_to_uciok "$work" "$stockfish" >>"$work/stockfish"
    time_to_uciok "$work" "$ethereal" >>"$work/ethereal"
done

with=$(median <"$work/with")
without=$(median <"$work/without")
sf=$(median <"$work/stockfish")
eth=$(median <"$work/ethereal")
awk -v w="$with" -v wo="$without" -v s="$sf" -v e="$eth" -v n="$reps" 'BEGIN {
    printf "median time to uciok over %d starts each:\n", n
    printf "  Brik with magics.txt     %8.1f ms\n", w / 1000
    printf "  Brik without magics.txt  %8.1f ms\n", wo / 1000
    printf "  Ethereal                 %8.1f ms\n", e / 1000
    printf "  Stockfish                %8.1f ms\n", s / 1000
    printf "ratio Brik(with file)/Ethereal      %.3f\n", w / e
    printf "ratio Brik(with file)/Stockfish     %.3f\n", w / s
    printf "ratio Brik(without file)/Stockfish  %.3f\n", wo / s
}'
