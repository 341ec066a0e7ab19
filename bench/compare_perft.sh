#!/usr/bin/env bash
# Move-generation speed of Brik against Stockfish: "perft 6" from the start
# position and "perft 5" on the Kiwipete position, in both engines. Checks
# that the node totals agree and prints nodes per second and the ratio
# Brik/Stockfish. Each measurement is taken RUNS times (default 2) in one
# engine process and the fastest counts: the machine is shared and noisy.
#
# Both engines are timed the same way, from just before the perft command is
# sent to the moment its total is read, so start-up is not included. Brik's
# own reported time is shown too.
#
#   bench/compare_perft.sh            environment: RUNS, BUILD_DIR, STOCKFISH
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-benchmarks}
stockfish=${STOCKFISH:-/usr/games/stockfish}
runs=${RUNS:-2}
reply_timeout=600  # seconds to wait for any one line

[ -x "$stockfish" ] || { echo "Stockfish not found at $stockfish (apt-get install -y stockfish)" >&2; exit 1; }
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build_dir" brik >/dev/null
brik=$build_dir/brik

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name|fen|depth
cases=(
    "start|rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1|6"
    "kiwipete|r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1|5"
)

microseconds() { local t=${EPOCHREALTIME/./}; echo $((10#$t)); }

send() { printf '%s\n' "$1" >&"${ENGINE[1]}"; }

# Reads engine lines until one starts with $1 and prints that line.
wait_for() {
    local line
    while IFS= read -r -t "$reply_timeout" line <&"${ENGINE[0]}"; do
        case "$line" in "$1"*) printf '%s\n' "$line"; return 0 ;; esac
    done
    echo "no \"$1\" from the engine" >&2
    return 1
}

stop_engine() {
    send quit
    wait "$ENGINE_PID" || true
}

# Brik: prints "<best microseconds> <nodes> <best self-reported seconds>".
brik_perft() {
    local fen=$1 depth=$2 best="" self_best="" nodes="" i t0 t1 line
    coproc ENGINE { cd "$work" && exec "$brik"; }
    send uci; wait_for uciok >/dev/null
    send "position fen $fen"
    for ((i = 0; i < runs; i++)); do
        t0=$(microseconds)
        send "perft $depth"
        line=$(wait_for " Totally")
        t1=$(microseconds)
        nodes=$(awk '{print $2}' <<<"$line")
        line=$(wait_for " Generate time")
        local self
        self=$(sed -n 's/.*Generate time: \([0-9.]*\) second.*/\1/p' <<<"$line")
        [ -n "$self" ] || self=0.001
        if [ -z "$best" ] || ((t1 - t0 < best)); then best=$((t1 - t0)); fi
        if [ -z "$self_best" ] || awk -v a="$self" -v b="$self_best" 'BEGIN { exit !(a < b) }'; then self_best=$self; fi
    done
    stop_engine
    echo "$best $nodes $self_best"
}

# Stockfish: prints "<best microseconds> <nodes>".
stockfish_perft() {
    local fen=$1 depth=$2 best="" nodes="" i t0 t1 line
    coproc ENGINE { exec "$stockfish"; }
    send uci; wait_for uciok >/dev/null
    send "setoption name Threads value 1"
    send isready; wait_for readyok >/dev/null
    send "position fen $fen"
    send isready; wait_for readyok >/dev/null
    for ((i = 0; i < runs; i++)); do
        t0=$(microseconds)
        send "go perft $depth"
        line=$(wait_for "Nodes searched")
        t1=$(microseconds)
        nodes=$(awk '{print $3}' <<<"$line")
        if [ -z "$best" ] || ((t1 - t0 < best)); then best=$((t1 - t0)); fi
    done
    stop_engine
    echo "$best $nodes"
}

# Start once so that magics.txt exists and later starts only read it.
coproc ENGINE { cd "$work" && exec "$brik"; }
send uci; wait_for uciok >/dev/null
stop_engine

status=0
printf '%-9s %5s %12s %14s %14s %14s %8s\n' position depth nodes "Brik nps" "(Brik own)" "Stockfish nps" ratio
for entry in "${cases[@]}"; do
    IFS='|' read -r name fen depth <<<"$entry"
    read -r brik_us brik_nodes brik_self < <(brik_perft "$fen" "$depth")
    read -r sf_us sf_nodes < <(stockfish_perft "$fen" "$depth")
    if [ "$brik_nodes" != "$sf_nodes" ]; then
        echo "$name perft $depth: Brik counts $brik_nodes nodes, Stockfish $sf_nodes" >&2
        status=1
    fi
    awk -v name="$name" -v depth="$depth" -v nodes="$brik_nodes" -v b="$brik_us" -v s="$sf_us" -v own="$brik_self" 'BEGIN {
        bn = nodes / (b / 1e6); sn = nodes / (s / 1e6); on = nodes / own
        printf "%-9s %5d %12d %14.0f %14.0f %14.0f %8.3f\n", name, depth, nodes, bn, on, sn, bn / sn
    }'
done
echo "(best of $runs runs each; ratio = Brik nps / Stockfish nps, both timed from command to total)"
exit $status
