#!/usr/bin/env bash
# Writes bench/endgames.epd: 100 simplified, roughly level positions for
# matches where endgame play decides (tablebases on against off). They are
# drawn from self-play data (scripts/datagen): 6 to 8 men, material within a
# pawn (P 1, N/B 3, R 5, Q 9), fifty-move counter under 20, one position per
# distinct board, picked in a seeded order.
#
# Usage: bench/make_endgame_book.sh [POSITIONS_FILE] [SEED]
#   POSITIONS_FILE  default data/positions.txt
#   SEED            default 1
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
data="${1:-$root/data/positions.txt}"
seed="${2:-1}"
[ -f "$data" ] || { echo "make_endgame_book: no data at $data (run scripts/datagen)" >&2; exit 1; }
awk -F' [|] ' -v seed="$seed" '
  BEGIN { srand(seed); v["p"] = 1; v["n"] = 3; v["b"] = 3; v["r"] = 5; v["q"] = 9; v["k"] = 0 }
  {
    split($1, f, " ")
    board = f[1]; men = 0; diff = 0
    for (i = 1; i <= length(board); i++) {
      ch = substr(board, i, 1)
      if (ch ~ /[pnbrqk]/) { men++; diff -= v[ch] }
      else if (ch ~ /[PNBRQK]/) { men++; diff += v[tolower(ch)] }
    }
    if (men < 6 || men > 8 || diff > 1 || diff < -1 || f[5] >= 20 || seen[board]++) next
    printf "%.12f\t%s\n", rand(), $1
  }' "$data" | LC_ALL=C sort | cut -f2- | sed -n 1,100p >"$root/bench/endgames.epd"
echo "make_endgame_book: $(wc -l <"$root/bench/endgames.epd") positions in bench/endgames.epd"
