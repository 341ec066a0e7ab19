#!/usr/bin/env bash
# Regenerates tests/data/eval_positions.txt: Stockfish plays itself from each
# opening line (a few thousand nodes a move, so the games look like real play
# through the opening, middle game and ending), and every few plies the
# position is written as FEN.
#
#   bench/make_eval_positions.sh [openings file] [output] [stockfish]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
openings=${1:-/work/shared/tools/match/openings.txt}
output=${2:-$here/../tests/data/eval_positions.txt}
engine=${3:-/usr/games/stockfish}
nodes=2000
every=13        # plies between recorded positions
max_plies=140

coproc SF { "$engine"; }
send() { echo "$1" >&"${SF[1]}"; }
# Sets $reply to the first line starting with $1. No subshells here: the
# coprocess's descriptors do not exist in them.
wait_for() {
    while IFS= read -r reply <&"${SF[0]}"; do
        case "$reply" in "$1"*) return ;; esac
    done
}
send uci; wait_for uciok
send "setoption name Threads value 1"
send isready; wait_for readyok

tmp=$(mktemp)
while read -r line; do
    [ -z "$line" ] && continue
    moves="$line"
    send ucinewgame
    plies=$(wc -w <<<"$moves")
    while [ "$plies" -lt "$max_plies" ]; do
        send "position startpos moves $moves"
        if [ $((plies % every)) -eq 0 ]; then
            send d
            wait_for "Fen:"
            echo "${reply#Fen: }" >>"$tmp"
        fi
        send "go nodes $nodes"
        wait_for bestmove
        best=$(awk '{print $2}' <<<"$reply")
        [ "$best" = "(none)" ] && break
        moves="$moves $best"
        plies=$((plies + 1))
    done
done < <(sed -e 's/#.*//' "$openings")
send quit
# Drop duplicates (repetitions) but keep the order of play.
awk '!seen[$1 " " $2 " " $3 " " $4]++' "$tmp" >"$output"
rm -f "$tmp"
echo "$(wc -l <"$output") positions in $output"
