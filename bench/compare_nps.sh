#!/usr/bin/env bash
# Search speed against Glaurung 2.2: nodes per second of a 5 s search from
# the start position, one thread and a 16 MB table each, every run from a
# fresh engine. The two engines take turns, RUNS times each (default 5), so
# that load from elsewhere hits both alike; prints the medians and the ratio.
# Installs Debian's glaurung when it is missing.
#
#   bench/compare_nps.sh [engine]     environment: RUNS, GLAURUNG
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
engine=${1:-$root/build/brik}
glaurung=${GLAURUNG:-/usr/games/glaurung}
runs=${RUNS:-5}
[ -x "$engine" ] || { echo "no engine at $engine (scripts/build)" >&2; exit 1; }
if [ ! -x "$glaurung" ]; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq glaurung >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints the nps of the last info line that has one, read until bestmove.
search_nps() {
    coproc ENGINE { cd "$work" && exec "$1"; }
    printf 'uci\nsetoption name Threads value 1\nsetoption name Hash value 16\nisready\nposition startpos\ngo movetime 5000\n' \
        >&"${ENGINE[1]}"
    local line nps=""
    while IFS= read -r -t 60 line <&"${ENGINE[0]}"; do
        case $line in
        info*" nps "*) nps=$(awk '{ for (i = 1; i < NF; i++) if ($i == "nps") print $(i + 1) }' <<<"$line") ;;
        bestmove*) break ;;
        esac
    done
    printf 'quit\n' >&"${ENGINE[1]}"
    wait "$ENGINE_PID" 2>/dev/null || true
    echo "$nps"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

brik_runs=() glaurung_runs=()
for ((i = 0; i < runs; i++)); do
    brik_runs+=("$(search_nps "$engine")")
    glaurung_runs+=("$(search_nps "$glaurung")")
done
brik=$(printf '%s\n' "${brik_runs[@]}" | median)
other=$(printf '%s\n' "${glaurung_runs[@]}" | median)
printf 'Brik     nps: %s (runs: %s)\n' "$brik" "${brik_runs[*]}"
printf 'Glaurung nps: %s (runs: %s)\n' "$other" "${glaurung_runs[*]}"
awk -v a="$brik" -v b="$other" 'BEGIN { printf "ratio Brik / Glaurung: %.3f\n", a / b }'
