#!/usr/bin/env bash
# Writes perft960.epd: Chess960 perft counts from Stockfish (UCI_Chess960 on),
# for every depth up to the deepest whose count stays within MAX_NODES.
# Each position is a FEN, and optionally moves (king takes rook for castling)
# played from it first: the FEN Stockfish then shows goes into the table.
#
#   tests/data/make_perft960.sh            environment: STOCKFISH, MAX_NODES
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
stockfish=${STOCKFISH:-/usr/games/stockfish}
max_nodes=${MAX_NODES:-5000000}
out=$here/perft960.epd

# name|FEN|moves
positions=(
    "start bbqnnrkr|bbqnnrkr/pppppppp/8/8/8/8/PPPPPPPP/BBQNNRKR w HFhf - 0 1|"
    "start rkrnnqbb, X-FEN|rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/RKRNNQBB w KQkq - 0 1|"
    "start nrbkqbrn|nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w GBgb - 0 1|"
    "start qrkrbbnn, X-FEN|qrkrbbnn/pppppppp/8/8/8/8/PPPPPPPP/QRKRBBNN w KQkq - 0 1|"
    "start brnqknrb|brnqknrb/pppppppp/8/8/8/8/PPPPPPPP/BRNQKNRB w GBgb - 0 1|"
    "start rbbknrqn|rbbknrqn/pppppppp/8/8/8/8/PPPPPPPP/RBBKNRQN w FAfa - 0 1|"
    "start nrkbbrqn, X-FEN|nrkbbrqn/pppppppp/8/8/8/8/PPPPPPPP/NRKBBRQN w KQkq - 0 1|"
    "standard start in Shredder-FEN|rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1|"
    "double 960 bbqnnrkr against rkrnnqbb|rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BBQNNRKR w HFca - 0 1|"
    "double 960 nrbkqbrn against qrkrbbnn|qrkrbbnn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w GBdb - 0 1|"
    "double 960 brnqknrb against rkrnnqbb, X-FEN|rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BRNQKNRB w KQkq - 0 1|"
    "brnqknrb after both sides castled short|brnqknrb/pppppppp/8/8/8/8/PPPPPPPP/BRNQKNRB w GBgb - 0 1|f1e3 f8e6 e1g1 e8g8"
    "brnqknrb with short castling open|brnqknrb/pppppppp/8/8/8/8/PPPPPPPP/BRNQKNRB w GBgb - 0 1|f1e3 f8e6 g2g3 b7b6"
    "qrkrbbnn with short castling open|qrkrbbnn/pppppppp/8/8/8/8/PPPPPPPP/QRKRBBNN w DBdb - 0 1|g1f3 g8f6 e2e3 e7e6 f1d3 f8d6 f2f4 f7f5 e1h4 e8h5"
    "rkrnnqbb four plies in|rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/RKRNNQBB w CAca - 0 1|d2d4 d7d5 e2e4 e7e5"
    "nrkbbrqn six plies in|nrkbbrqn/pppppppp/8/8/8/8/PPPPPPPP/NRKBBRQN w FBfb - 0 1|e2e4 e7e5 h1g3 h8g6 g1e3 g8e6"
    "king on g1 castles short by moving the rook only|1r4kr/pppppppp/8/8/8/8/PPPPPPPP/1R4KR w HBhb - 0 1|"
    "king on c1 castles long by moving the rook only, X-FEN|r1k4r/pppppppp/8/8/8/8/PPPPPPPP/R1K4R w KQkq - 0 1|"
    "the same, Black to move|r1k4r/pppppppp/8/8/8/8/PPPPPPPP/R1K4R b KQkq - 0 1|"
    "king b1 and rook a1 castle long|rk5r/pppppppp/8/8/8/8/PPPPPPPP/RK5R w KQkq - 0 1|"
    "rooks already on f and d|3rkr2/pppppppp/8/8/8/8/PPPPPPPP/3RKR2 w FDfd - 0 1|"
    "kings beside rooks on b and g|1rk3r1/pppppppp/8/8/8/8/PPPPPPPP/1R3KR1 w GBgb - 0 1|"
    "king and rook swap squares|2rk3r/pppppppp/8/8/8/8/PPPPPPPP/2RK3R w HChc - 0 1|"
    "king on c1 with its short rook on d1|r1k1r3/pppppppp/8/8/8/8/PPPPPPPP/R1KR4 w DAea - 0 1|"
    "inner rook's right named by its file|4k3/pppppppp/8/8/8/8/PPPPPPPP/4KR1R w F - 0 1|"
    "outer rook's right behind the inner rook|4k3/pppppppp/8/8/8/8/PPPPPPPP/4KR1R w K - 0 1|"
    "king's destination held by the other rook|4k3/pppppppp/8/8/8/8/PPPPPPPP/R1R1K3 w Q - 0 1|"
    "inner rook castles onto d1 past the king|4k3/pppppppp/8/8/8/8/PPPPPPPP/R1R1K3 w C - 0 1|"
    "castling through an attacked square|4r1k1/pp3ppp/8/8/8/8/PP3PPP/1K5R w H - 0 1|"
    "castling out of check|1r2k2r/p1pppppp/8/8/8/8/P1PPPPPP/RK5R w HAhb - 0 1|"
    "castling into a pawn's attack|1r2k3/pppppp1p/8/8/8/8/PPPPPP1p/1K5R w H - 0 1|"
    "rook shields the king's destination|4k3/pppppppp/8/8/8/8/1PPPPPPP/qRK4R w HB - 0 1|"
    "rook shields the king's destination, Black|Qrk4r/1ppppppp/8/8/8/8/PPPPPPPP/4K3 b hb - 0 1|"
    "rook crosses an attacked square|4k3/pppppppp/8/8/8/n7/1PPPPPPP/R4K2 w A - 0 1|"
    "knight between rook and its destination|4k3/pppppppp/8/8/8/8/PPPPPPPP/RN4K1 w A - 0 1|"
    "enemy bishop in the king's path|rn2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1K1b3R w Hga - 0 1|"
    "castling rooks open to capture|1r3k1r/B7/8/8/8/8/6b1/R1K4R w HAhb - 0 1|"
    "en passant beside castling rights|1rk3r1/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/1RK3R1 w GBgb f6 0 3|"
    "h8 rook taken on its square|bbqnnrkr/pppppppp/8/8/8/8/PPPPPPPP/BBQNNRKR w HFhf - 0 1|b2b3 g7g6 a1h8"
    "a knight attacks a castling rook and the king's path|1r2k1r1/pppppppp/8/8/8/7n/PPPPPP1P/1R2K1R1 w GBgb - 0 1|"
    "a1 rook taken, the king may take back|rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/RKRNNQBB w CAca - 0 1|g2g3 g7g6 b2b3 h8a1"
    "double 960, the a8 rook taken|rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BRNQKNRB w GBca - 0 1|g2g3 b7b6 h1a8"
    "Kiwipete in Shredder-FEN|r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w HAha - 0 1|"
    "standard middle game, X-FEN|rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8|"
)

sf_lines() { printf 'setoption name UCI_Chess960 value true\n%s\nquit\n' "$1" | "$stockfish" 2>/dev/null; }

{
    echo "# Chess960 perft counts (UCI_Chess960 on): each position is a FEN followed by"
    echo "# \";D<depth> <leaf nodes>\" fields. A comment line right above a position names it."
    echo "# Written by make_perft960.sh from Stockfish's \"go perft\"; do not edit by hand."
    for entry in "${positions[@]}"; do
        IFS='|' read -r name fen moves <<<"$entry"
        if [ -n "$moves" ]; then
            fen=$(sf_lines "position fen $fen moves $moves"$'\nd' | sed -n 's/^Fen: //p')
        fi
        line="$fen"
        for depth in 1 2 3 4 5 6 7; do
            nodes=$(sf_lines "position fen $fen"$'\n'"go perft $depth" | sed -n 's/^Nodes searched: //p')
            [ "$nodes" -le "$max_nodes" ] || break
            line="$line ;D$depth $nodes"
        done
        echo
        echo "# $name"
        echo "$line"
    done
} >"$out"
echo "wrote $out"
