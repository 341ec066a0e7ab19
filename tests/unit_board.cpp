// Board representation: FEN in and out, material and mailbox, the board
// diagram, move text, the position stack ring, Zobrist keys and the command
// parser's two helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "attacks.h"
#include "board.h"
#include "movegen.h"
#include "test_support.h"
#include "uci.h"

namespace {

// The position the tests set up and play on.
Position& pos = test_pos();

int square_of(const char* name) { return make_square(name[0] - 'a', name[1] - '1'); }

// Builds a FEN placement from a list like "Ke1 ke8 pf5" (piece letter, square).
std::string placement_of(const char* pieces) {
    char cells[64];
    memset(cells, 0, sizeof cells);
    for (const char* p = pieces; *p;) {
        while (*p == ' ') p++;
        if (!*p) break;
        cells[square_of(p + 1)] = p[0];
        p += 3;
    }
    std::string out;
    for (int rank = 7; rank >= 0; rank--) {
        int empty = 0;
        for (int file = 0; file < 8; file++) {
            char c = cells[make_square(file, rank)];
            if (!c) {
                empty++;
                continue;
            }
            if (empty) out += char('0' + empty);
            empty = 0;
            out += c;
        }
        if (empty) out += char('0' + empty);
        if (rank) out += '/';
    }
    return out;
}

int piece_count() {
    int n = 0;
    for (U64 b : pos.board.pieces) n += popcount(b);
    return n;
}

// The mailbox and bitboards as a 64-letter text, a8 first, "." for empty.
std::string board_text() {
    std::string text;
    for (int rank = 7; rank >= 0; rank--)
        for (int file = 0; file < 8; file++) {
            int sq = make_square(file, rank);
            int found = NO_PIECE;
            for (int piece = 0; piece < 12; piece++)
                if (pos.board.pieces[piece] & bit(sq)) found = piece;
            text += found == NO_PIECE ? '.' : PIECE_LETTERS[found];
        }
    return text;
}

std::string print_board_output(PlyRecord* rec) {
    return capture_output([](void* arg) { print_board(pos, static_cast<PlyRecord*>(arg)); }, rec);
}

}  // namespace

// ---- FEN reading ---------------------------------------------------------------

TEST(ParseFen, StartPositionPlacementMailboxAndMaterial) {
    PlyRecord* root = setup_position(START_FEN);
    EXPECT_EQ(board_text(),
              "rnbqkbnr"
              "pppppppp"
              "................................"
              "PPPPPPPP"
              "RNBQKBNR");
    EXPECT_EQ(pos.board.side, WHITE);
    EXPECT_EQ(root->castling, 15);
    EXPECT_EQ(root->ep_square, 0);
    // 8 pawns, 2 knights, 2 bishops, 2 rooks, a queen; the king is not counted.
    EXPECT_EQ(pos.board.material[WHITE], 8 * 100 + 4 * 325 + 2 * 500 + 975);
    EXPECT_EQ(pos.board.material[BLACK], 8 * 100 + 4 * 325 + 2 * 500 + 975);
    EXPECT_EQ(pos.board.occupancy[WHITE], 0xFFFFULL);
    EXPECT_EQ(pos.board.occupancy[BLACK], 0xFFFF000000000000ULL);
    EXPECT_EQ(pos.board.mailbox[square_of("e1")], W_KING);
    EXPECT_EQ(pos.board.mailbox[square_of("d8")], B_QUEEN);
    EXPECT_EQ(pos.board.mailbox[square_of("g2")], W_PAWN);
    for (int sq = 16; sq < 48; sq++) EXPECT_EQ(pos.board.mailbox[sq], NO_PIECE) << sq;
    EXPECT_TRUE(board_is_consistent(pos, root));
}

TEST(ParseFen, MailboxAndMaterialFollowThePlacement) {
    struct Case {
        const char* fen;
        int white_material, black_material;
    };
    const Case cases[] = {
        {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", 0, 0},
        {"4k3/8/8/3q4/8/8/8/RN2K3 w - - 0 1", 500 + 325, 975},
        {"rnbqkbnr/8/8/8/8/8/PPPPPPPP/4K3 b - - 0 1", 800, 2 * 500 + 4 * 325 + 975},
        {"7k/PPPPPPPP/8/8/8/8/pppppppp/K7 w - - 0 1", 800, 800},
        {"QQQQQQQQ/8/8/8/8/8/8/k6K w - - 0 1", 8 * 975, 0},
    };
    for (const Case& c : cases) {
        PlyRecord* root = setup_position(c.fen);
        EXPECT_EQ(pos.board.material[WHITE], c.white_material) << c.fen;
        EXPECT_EQ(pos.board.material[BLACK], c.black_material) << c.fen;
        for (int sq = 0; sq < 64; sq++) {
            int expected = NO_PIECE;
            for (int piece = 0; piece < 12; piece++)
                if (pos.board.pieces[piece] & bit(sq)) expected = piece;
            EXPECT_EQ(pos.board.mailbox[sq], expected) << c.fen << " square " << sq;
        }
        EXPECT_TRUE(board_is_consistent(pos, root)) << c.fen;
    }
}

TEST(ParseFen, SideCastlingAndCounters) {
    struct Case {
        const char* fen;
        int side, castling, halfmove, fullmove;
    };
    const Case cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", WHITE, 15, 0, 1},
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 3 17", BLACK, 15, 3, 17},
        {"r3k2r/8/8/8/8/8/8/R3K2R w Kq - 0 1", WHITE, WHITE_SHORT | BLACK_LONG, 0, 1},
        {"r3k2r/8/8/8/8/8/8/R3K2R w qkQK - 0 1", WHITE, 15, 0, 1},
        {"r3k2r/8/8/8/8/8/8/R3K2R w Qk - 0 1", WHITE, WHITE_LONG | BLACK_SHORT, 0, 1},
        {"r3k2r/8/8/8/8/8/8/R3K2R b - - 0 1", BLACK, 0, 0, 1},
        // Unknown letters in the castling field are ignored.
        {"r3k2r/8/8/8/8/8/8/R3K2R w KxQ - 0 1", WHITE, WHITE_SHORT | WHITE_LONG, 0, 1},
        // Counters are read whatever the en-passant field holds.
        {"4k3/8/8/8/8/8/8/4K3 w - - 5 20", WHITE, 0, 5, 20},
        {"4k3/8/8/8/8/8/8/4K3 w - a3 7 33", WHITE, 0, 7, 33},
        {"4k3/8/8/8/8/8/8/4K3 b - h6 99 120", BLACK, 0, 99, 120},
        // A side letter other than w or b leaves White to move.
        {"4k3/8/8/8/8/8/8/4K3 x - - 0 1", WHITE, 0, 0, 1},
        // Missing counters keep their cleared values; fullmove 0 counts as 1.
        {"4k3/8/8/8/8/8/8/4K3 b - -", BLACK, 0, 0, 1},
        {"4k3/8/8/8/8/8/8/4K3 w - - 12", WHITE, 0, 12, 1},
        {"4k3/8/8/8/8/8/8/4K3 w - - 4 0", WHITE, 0, 4, 1},
    };
    for (const Case& c : cases) {
        PlyRecord* root = setup_position(c.fen);
        EXPECT_EQ(pos.board.side, c.side) << c.fen;
        EXPECT_EQ(root->castling, c.castling) << c.fen;
        EXPECT_EQ(pos.info.halfmove_clock, c.halfmove) << c.fen;
        EXPECT_EQ(pos.info.start_fullmove, c.fullmove) << c.fen;
        // A freshly set-up position is the start of the game history.
        EXPECT_EQ(pos.info.history_count, 0) << c.fen;
        EXPECT_EQ(pos.info.irreversible_index, 0) << c.fen;
        EXPECT_EQ(pos.history[0].key, root->key) << c.fen;
        EXPECT_TRUE(board_is_consistent(pos, root)) << c.fen;
    }
}

TEST(ParseFen, CastlingRightsWithoutKingOrRookAreDropped) {
    struct Case {
        const char* fen;
        int castling;
    };
    const Case cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", 15},
        {"r3k3/8/8/8/8/8/8/R3K2R w KQkq - 0 1", WHITE_SHORT | WHITE_LONG | BLACK_LONG},  // no h8 rook
        {"4k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", WHITE_SHORT | WHITE_LONG | BLACK_SHORT}, // no a8 rook
        {"r3k2r/8/8/8/8/8/8/4K2R w KQkq - 0 1", WHITE_SHORT | BLACK_SHORT | BLACK_LONG}, // no a1 rook
        {"r3k2r/8/8/8/8/8/8/R3K3 w KQkq - 0 1", WHITE_LONG | BLACK_SHORT | BLACK_LONG},  // no h1 rook
        {"r3k2r/8/8/8/8/8/8/R2K3R w KQkq - 0 1", BLACK_SHORT | BLACK_LONG},              // king on d1
        {"r4k1r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", WHITE_SHORT | WHITE_LONG},              // king on f8
        // A rook of the wrong colour on the corner does not carry a right.
        {"R3k2r/8/8/8/8/8/8/r3K2R w KQkq - 0 1", WHITE_SHORT | BLACK_SHORT},
        {"4k3/8/8/8/8/8/8/4K3 w KQkq - 0 1", 0},
    };
    for (const Case& c : cases) {
        PlyRecord* root = setup_position(c.fen);
        EXPECT_EQ(root->castling, c.castling) << c.fen;
        EXPECT_TRUE(board_is_consistent(pos, root)) << c.fen;
    }
}

// A pawn that has just advanced two squares on any file leaves its en-passant
// square, for either side to move.
TEST(ParseFen, EnPassantSquareOnEveryFileForBothSides) {
    for (int file = 0; file < 8; file++) {
        const char f = char('a' + file);
        // Kings in the corners keep every pushed pawn's path clear; a pawn of the
        // side to move stands ready to take en passant.
        const char capturer = char('a' + (file == 0 ? 1 : file - 1));
        std::string black_pushed = std::string("Ka1 kh8 p") + f + "5 P" + capturer + "5";
        std::string fen = placement_of(black_pushed.c_str()) + " w - " + f + "6 0 1";
        PlyRecord* root = setup_position(fen.c_str());
        EXPECT_EQ(root->ep_square, make_square(file, 5)) << fen;
        EXPECT_EQ(root->key, root->base_key ^ castle_keys[0] ^ ep_keys[make_square(file, 5)]) << fen;
        EXPECT_TRUE(board_is_consistent(pos, root)) << fen;

        std::string white_pushed = std::string("Ka1 kh8 P") + f + "4 p" + capturer + "4";
        fen = placement_of(white_pushed.c_str()) + " b - " + f + "3 4 9";
        root = setup_position(fen.c_str());
        EXPECT_EQ(root->ep_square, make_square(file, 2)) << fen;
        EXPECT_EQ(pos.info.halfmove_clock, 4) << fen;
        EXPECT_EQ(pos.info.start_fullmove, 9) << fen;
        EXPECT_TRUE(board_is_consistent(pos, root)) << fen;
    }
}

// An en-passant square that no double step can have produced is not kept.
TEST(ParseFen, InconsistentEnPassantSquareIsDropped) {
    const char* cases[] = {
        "4k3/8/8/8/8/8/8/4K3 w - e6 0 1",        // no pawn in front of it
        "4k3/8/8/4P3/8/8/8/4K3 w - e6 0 1",      // own pawn in front of it
        "4k3/8/8/4p3/8/8/8/4K3 b - e6 0 1",      // rank 6 with Black to move
        "4k3/8/8/8/4P3/8/8/4K3 w - e3 0 1",      // rank 3 with White to move
        "4k3/4n3/8/4p3/8/8/8/4K3 w - e6 0 1",    // the square it came from is occupied
        "4k3/8/4n3/4p3/8/8/8/4K3 w - e6 0 1",    // the square itself is occupied
        "4k3/8/8/8/4P3/4N3/8/4K3 b - e3 0 1",    // the square itself is occupied
        "4k3/8/8/8/4P3/8/4N3/4K3 b - e3 0 1",    // the square it came from is occupied
        "4k3/8/8/4p3/8/8/8/4K3 w - e5 0 1",      // not a square a pawn passes over
        "4k3/8/8/4p3/8/8/8/4K3 w - e9 0 1",      // no such rank
        "4k3/8/8/4p3/8/8/8/4K3 w - i6 0 1",      // no such file
    };
    for (const char* fen : cases) {
        PlyRecord* root = setup_position(fen);
        EXPECT_EQ(root->ep_square, 0) << fen;
        EXPECT_EQ(root->key, root->base_key ^ castle_keys[0]) << fen;
    }
}

TEST(ParseFen, ShortFenEndingAfterTheSideField) {
    struct Case {
        const char* fen;
        int side;
    };
    const Case cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R b", BLACK},
        {"r3k2r/8/8/8/8/8/8/R3K2R w", WHITE},
        {"r3k2r/8/8/8/8/8/8/R3K2R b ", BLACK},
        {"r3k2r/8/8/8/8/8/8/R3K2R ", WHITE},
        // Without the blank the placement is all there is.
        {"r3k2r/8/8/8/8/8/8/R3K2R", WHITE},
    };
    for (const Case& c : cases) {
        PlyRecord* root = setup_position(c.fen);
        EXPECT_EQ(pos.board.side, c.side) << c.fen;
        EXPECT_EQ(root->castling, 0) << c.fen;
        EXPECT_EQ(root->ep_square, 0) << c.fen;
        EXPECT_EQ(pos.info.halfmove_clock, 0) << c.fen;
        EXPECT_EQ(pos.info.start_fullmove, 1) << c.fen;
        EXPECT_EQ(piece_count(), 6) << c.fen;
        EXPECT_TRUE(board_is_consistent(pos, root)) << c.fen;
    }
}

TEST(ParseFen, AllEmptyBoardWithBlackToMove) {
    PlyRecord* root = setup_position("8/8/8/8/8/8/8/8 b - - 0 1");
    EXPECT_EQ(pos.board.side, BLACK);
    EXPECT_EQ(piece_count(), 0);
    EXPECT_EQ(pos.board.occupancy[0] | pos.board.occupancy[1], 0u);
    EXPECT_EQ(pos.board.material[0] + pos.board.material[1], 0);
    for (int sq = 0; sq < 64; sq++) EXPECT_EQ(pos.board.mailbox[sq], NO_PIECE) << sq;
    EXPECT_EQ(root->key, castle_keys[0]);
    EXPECT_EQ(root->base_key, 0u);
}

// Overlong ranks and extra ranks are cut off instead of writing past the board.
TEST(ParseFen, MalformedPlacementStaysOnTheBoard) {
    struct Case {
        const char* fen;
        const char* must_hold;  // pieces the well-formed part places
        int pieces;             // pieces on the board in all
    };
    const Case cases[] = {
        // A ninth and a tenth rank: their pieces are dropped.
        {"8/8/8/8/8/8/8/4K2k/QQQQQQQQ/RRRRRRRR w - - 0 1", "Ke1 kh1", 2},
        {"k7/8/8/8/8/8/8/K7/8/8/8/8/8/8/8/8/8/8/8/8/qqqqqqqq b - - 0 1", "ka8 Ka1", 2},
        // Cells past the eighth of the last rank.
        {"4k3/8/8/8/8/8/8/RNBQKBNRRRRRRRR w - - 0 1", "ke8 Ra1 Nb1 Bc1 Qd1 Ke1 Bf1 Ng1 Rh1", 9},
        {"4k3/8/8/8/8/8/8/8QQQQQQQQQQQQQQQQQQQQQQQQ w - - 0 1", "ke8", 1},
        {"4k3/8/8/8/8/8/8/77777777K w - - 0 1", "ke8", 1},
        // Cells past the eighth of the first rank.
        {"rnbqkbnrq/8/8/8/8/8/8/4K3 w - - 0 1", "ra8 nb8 bc8 qd8 ke8 bf8 ng8 rh8", 9},
        // Characters that are neither pieces, digits nor "/" are skipped.
        {"4k3/8/8/8/9/8/8/4K3 w - - 0 1", "ke8", 2},
        {"4kx3/8/8/8/8/8/8/4K3 w - - 0 1", "ke8 Ke1", 2},
    };
    for (const Case& c : cases) {
        PlyRecord* root = setup_position(c.fen);
        for (const char* p = c.must_hold; *p;) {
            while (*p == ' ') p++;
            int piece = int(strchr(PIECE_LETTERS, p[0]) - PIECE_LETTERS);
            int sq = square_of(p + 1);
            EXPECT_TRUE(pos.board.pieces[piece] & bit(sq)) << c.fen << " " << std::string(p, 3);
            EXPECT_EQ(pos.board.mailbox[sq], piece) << c.fen << " " << std::string(p, 3);
            p += 3;
        }
        EXPECT_EQ(piece_count(), c.pieces) << c.fen;
        EXPECT_TRUE(board_is_consistent(pos, root)) << c.fen;
    }
    // What lies next to the board in memory is untouched.
    setup_position("8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKK w - - 0 1");
    EXPECT_EQ(piece_count(), 0);
    EXPECT_EQ(pos.board.material[0], 0);
    EXPECT_EQ(pos.board.material[1], 0);
    EXPECT_EQ(pos.board.side, WHITE);
}

// ---- FEN writing -------------------------------------------------------------

TEST(PositionToFen, RoundTrips) {
    const char* cases[] = {
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
        "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2",
        "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "r3k2r/8/8/8/8/8/8/R3K2R b Kq - 17 42",
        "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
        "4k3/8/8/8/8/8/8/4K3 b - - 99 150",
        "8/8/8/8/8/8/8/8 w - - 0 1",
        "7k/8/8/pP6/8/8/8/K7 w - a6 0 30",
        "7k/8/8/8/6Pp/8/8/K7 b - g3 0 30",
    };
    for (const char* fen : cases) {
        PlyRecord* root = setup_position(fen);
        EXPECT_EQ(position_to_fen(pos, root), std::string(fen) + " ") << fen;
    }
}

TEST(PositionToFen, NormalisesWhatItReads) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R w qkQK - 0 1", "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1 "},
        {"4k3/8/8/8/8/8/8/4K3 w KQkq - 0 1", "4k3/8/8/8/8/8/8/4K3 w - - 0 1 "},
        {"4k3/8/8/8/8/8/8/4K3 w - e6 3 7", "4k3/8/8/8/8/8/8/4K3 w - - 3 7 "},
        {"4k3/8/8/8/8/8/8/4K3 b", "4k3/8/8/8/8/8/8/4K3 b - - 0 1 "},
        {"4k3/8/8/8/8/8/8/4K3", "4k3/8/8/8/8/8/8/4K3 w - - 0 1 "},
        {"1111k111/8/8/8/8/8/8/4K3 w - - 0 1", "4k3/8/8/8/8/8/8/4K3 w - - 0 1 "},
    };
    for (const Case& c : cases) {
        PlyRecord* root = setup_position(c.in);
        EXPECT_EQ(position_to_fen(pos, root), c.out) << c.in;
    }
}

TEST(PositionToFen, CountersFollowTheMovesMade) {
    struct Case {
        const char* fen;
        const char* moves;
        const char* expected;
    };
    const Case cases[] = {
        {START_FEN, "e2e4", "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1 "},
        {START_FEN, "e2e4 e7e5", "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2 "},
        {START_FEN, "g1f3 g8f6 f3g1", "rnbqkb1r/pppppppp/5n2/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 3 2 "},
        {START_FEN, "e2e4 e7e5 e1e2", "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPPKPPP/RNBQ1BNR b kq - 1 2 "},
        // Black to move at set-up: the first Black move completes that full move.
        {"4k3/8/8/8/8/8/8/4K3 b - - 10 40", "e8d8", "3k4/8/8/8/8/8/8/4K3 w - - 11 41 "},
        {"4k3/8/8/8/8/8/8/4K3 b - - 10 40", "e8d8 e1d1", "3k4/8/8/8/8/8/8/3K4 b - - 12 41 "},
        {"4k3/8/8/8/8/8/8/4K3 w - - 10 40", "e1d1 e8d8", "3k4/8/8/8/8/8/8/3K4 w - - 12 41 "},
        // Huge counters saturate on reading and stay saturated as they grow, so the
        // FEN written reads back to itself (a fuzzer found 999999999 growing past it).
        {"4k3/8/8/8/8/8/8/4K3 b - - 9999999992 9999999992", "e8d8 e1d1",
         "3k4/8/8/8/8/8/8/3K4 b - - 999999999 999999999 "},
        {"4k3/8/8/8/8/8/8/4K3 b - - 999999998 999999998", "e8d8 e1d1",
         "3k4/8/8/8/8/8/8/3K4 b - - 999999999 999999999 "},
    };
    for (const Case& c : cases) {
        PlyRecord* root = setup_position(c.fen);
        apply_move_list(pos, c.moves, root);
        EXPECT_EQ(position_to_fen(pos, root), c.expected) << c.fen << " moves " << c.moves;
    }
}

// ---- Board diagram ---------------------------------------------------------

TEST(PrintBoard, DiagramOfTheStartPosition) {
    PlyRecord* root = setup_position(START_FEN);
    EXPECT_EQ(print_board_output(root),
              "\nrnbqkbnr\npppppppp\n........\n........\n........\n........\nPPPPPPPP\nRNBQKBNR\n"
              "\ncastling: qkQK\n");
}

TEST(PrintBoard, CheckIsAnnounced) {
    PlyRecord* root = setup_position("4k3/8/8/8/8/8/8/4R1K1 b - - 0 1");
    EXPECT_EQ(print_board_output(root),
              "\n....k...\n........\n........\n........\n........\n........\n........\n....R.K.\n"
              "\ncheck!\n"
              "\ncastling: -\n");
    root = setup_position("4k3/8/8/8/8/8/8/4R1K1 w - - 0 1");
    EXPECT_EQ(print_board_output(root).find("check!"), std::string::npos);
}

TEST(PrintBoard, CastlingTextListsTheLettersInReverseOrder) {
    const char* texts[16] = {"-", "K",  "Q",  "QK",  "k",  "kK",  "kQ",  "kQK",
                             "q", "qK", "qQ", "qQK", "qk", "qkK", "qkQ", "qkQK"};
    PlyRecord* root = setup_position("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
    for (int rights = 0; rights < 16; rights++) {
        root->castling = rights;
        std::string out = print_board_output(root);
        std::string tail = std::string("\ncastling: ") + texts[rights] + "\n";
        ASSERT_GE(out.size(), tail.size());
        EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << rights;
    }
    root->castling = 0;
}

// ---- Move text -----------------------------------------------------------------

TEST(MoveText, ParseCases) {
    struct Case {
        const char* text;
        Move expected;
    };
    auto word = [](int from, int to, Move promotion) { return Move(from) << 16 | Move(to) << 8 | promotion; };
    const Case cases[] = {
        {"e2e4", word(12, 28, 0)},
        {"e2e4 ", word(12, 28, 0)},
        {"e2e4 e7e5", word(12, 28, 0)},
        {"e7e8q", word(52, 60, MOVE_PROMOTION | 3)},
        {"e7e8r", word(52, 60, MOVE_PROMOTION | 2)},
        {"e7e8b", word(52, 60, MOVE_PROMOTION | 1)},
        {"e7e8n", word(52, 60, MOVE_PROMOTION | 0)},
        {"a2b1q", word(8, 1, MOVE_PROMOTION | 3)},
        {"h8a1", word(63, 0, 0)},
        // A fifth character other than n, b, r, q is no promotion.
        {"e7e8k", word(52, 60, 0)},
        {"e7e8Q", word(52, 60, MOVE_PROMOTION | 3)},
        {"e7e8p", word(52, 60, 0)},
        {"e7e8 q", word(52, 60, 0)},
        // Anything out of range in the first four characters gives 0.
        {"i2e4", 0},
        {"e2i4", 0},
        {"`2e4", 0},
        {"e0e4", 0},
        {"e2e9", 0},
        {"E2E4", 0},
        {"e2e", 0},
        {"e2", 0},
        {"e", 0},
        {"", 0},
        {" e2e4", 0},
        {"0000", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_move_text(c.text), c.expected) << '"' << c.text << '"';
}

TEST(MoveText, WritesFromToAndPromotion) {
    setup_position(START_FEN);  // standard chess: castling is written as the king's step
    struct Case {
        Move move;
        const char* text;
    };
    const Case cases[] = {
        {0, "0000"},
        {make_move_word(12, 28, W_PAWN, MOVE_DOUBLE_STEP), "e2e4"},
        {make_move_word(0, 63, W_QUEEN, MOVE_CAPTURE), "a1h8"},
        {make_move_word(4, 6, W_KING, MOVE_CASTLE), "e1g1"},
        {make_move_word(52, 61, W_PAWN, MOVE_PROMOTION | MOVE_CAPTURE | 0), "e7f8n"},
        {make_move_word(52, 60, W_PAWN, MOVE_PROMOTION | 1), "e7e8b"},
        {make_move_word(52, 60, W_PAWN, MOVE_PROMOTION | 2), "e7e8r"},
        {make_move_word(11, 3, B_PAWN, MOVE_PROMOTION | 3), "d2d1q"},
        // Selector bits without the promotion bit write no letter.
        {make_move_word(52, 60, W_PAWN, 3), "e7e8"},
    };
    for (const Case& c : cases) EXPECT_EQ(move_to_text(pos, c.move), c.text) << std::hex << c.move;
}

TEST(MoveText, EveryMoveTextRoundTrips) {
    const char* suffixes[] = {"", "n", "b", "r", "q"};
    for (int from = 0; from < 64; from++)
        for (int to = 0; to < 64; to++)
            for (const char* suffix : suffixes) {
                if (from == 0 && to == 0 && !*suffix) continue;  // that word is the empty move
                std::string text = {char('a' + file_of(from)), char('1' + rank_of(from)),
                                    char('a' + file_of(to)), char('1' + rank_of(to))};
                text += suffix;
                Move m = parse_move_text(text.c_str());
                ASSERT_EQ(move_from(m), from) << text;
                ASSERT_EQ(move_to(m), to) << text;
                ASSERT_EQ(move_to_text(pos, m), text) << text;
            }
}

// Every call returns a text of its own: a later call leaves an earlier text as it was.
TEST(MoveText, EachCallGivesItsOwnText) {
    const std::string first = move_to_text(pos, make_move_word(12, 28, W_PAWN, 0));
    const std::string second = move_to_text(pos, make_move_word(52, 60, W_PAWN, MOVE_PROMOTION | 3));
    EXPECT_EQ(first, "e2e4");
    EXPECT_EQ(second, "e7e8q");
}

// ---- Chess960: castling field and castling text ----------------------------------

namespace {

// The rook square of each right held, in right order (white short, white
// long, black short, black long), "-" for a right not held.
std::string castling_rooks(const PlyRecord* rec) {
    std::string text;
    for (int index = 0; index < 4; index++) {
        if (index) text += ' ';
        if (!(rec->castling & castling_right(index))) {
            text += '-';
            continue;
        }
        int sq = pos.castling_rules.rook_square[index];
        text += {char('a' + file_of(sq)), char('1' + rank_of(sq))};
    }
    return text;
}

// parse_fen's answer with Chess960 castling.
std::string parse_fen_960(const char* fen) {
    pos.chess960 = true;
    std::string problem = parse_fen(pos, fen, root_record(pos));
    update_check_info(pos, root_record(pos));
    return problem;
}

}  // namespace

TEST(Chess960Fen, CastlingLettersNameRooks) {
    struct Case {
        const char* fen;
        const char* rooks;
    };
    const Case cases[] = {
        // KQkq are the outermost rooks (X-FEN); file letters name them (Shredder-FEN).
        {START_FEN, "h1 a1 h8 a8"},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1", "h1 a1 h8 a8"},
        {"nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w KQkq - 0 1", "g1 b1 g8 b8"},
        {"nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w bgBG - 0 1", "g1 b1 g8 b8"},
        {"nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w Gq - 0 1", "g1 - - b8"},
        // Double 960: each side's letters on its own back rank.
        {"rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BBQNNRKR w HFca - 0 1", "h1 f1 c8 a8"},
        {"rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BBQNNRKR w KQkq - 0 1", "h1 f1 c8 a8"},
        // Two rooks on a wing: K is the outer one, a letter may name the inner one.
        {"4k3/8/8/8/8/8/8/4KR1R w K - 0 1", "h1 - - -"},
        {"4k3/8/8/8/8/8/8/4KR1R w F - 0 1", "f1 - - -"},
        {"4k3/8/8/8/8/8/8/R1R1K3 w Q - 0 1", "- a1 - -"},
        {"4k3/8/8/8/8/8/8/R1R1K3 w C - 0 1", "- c1 - -"},
        // Rooks beside the king, and a king already on its destination.
        {"1rk3r1/8/8/8/8/8/8/1R3KR1 w GBgb - 0 1", "g1 b1 g8 b8"},
        {"1r4kr/8/8/8/8/8/8/1R4KR w KQkq - 0 1", "h1 b1 h8 b8"},
        {"rk5r/8/8/8/8/8/8/RK5R b KQkq - 0 1", "h1 a1 h8 a8"},
        // Two letters for one rook say the same; other characters are skipped as in standard chess.
        {"4k3/8/8/8/8/8/8/4K2R w KH - 0 1", "h1 - - -"},
        {"4k3/8/8/8/8/8/8/4K2R w Kx - 0 1", "h1 - - -"},
        {"4k3/8/8/8/8/8/8/4K2R w - - 0 1", "- - - -"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        EXPECT_EQ(parse_fen_960(c.fen), "");
        EXPECT_EQ(castling_rooks(root_record(pos)), c.rooks);
        EXPECT_TRUE(board_is_consistent(pos, root_record(pos)));
    }
}

// A letter that names no rook beside the king on its first rank is refused
// with the reason; the others are granted.
TEST(Chess960Fen, LettersWithoutTheirRookAreRefused) {
    struct Case {
        const char* fen;
        const char* problem;
        const char* rooks;  // what was granted
    };
    const Case cases[] = {
        {"4k3/8/8/8/8/8/8/4K2R w HC - 0 1", "castling letter C: no white rook on c1", "h1 - - -"},
        {"4k2r/8/8/8/8/8/8/4K2R w Hhc - 0 1", "castling letter c: no black rook on c8", "h1 - h8 -"},
        {"4k3/8/8/8/8/8/8/r3K3 w A - 0 1", "castling letter A: no white rook on a1", "- - - -"},
        {"4k3/8/8/8/8/8/R7/4K3 w A - 0 1", "castling letter A: no white rook on a1", "- - - -"},
        {"4k3/8/8/8/8/8/8/R3K3 w KQ - 0 1", "castling letter K: no white rook on the king's h-side", "- a1 - -"},
        {"4k2r/8/8/8/8/8/8/4K3 w q - 0 1", "castling letter q: no black rook on the king's a-side", "- - - -"},
        {"4k3/8/8/8/8/8/4K3/R6R w AH - 0 1", "castling letter A: the white king is not on its first rank", "- - - -"},
        {"r6r/4k3/8/8/8/8/8/4K3 w k - 0 1", "castling letter k: the black king is not on its first rank", "- - - -"},
        {"4k3/8/8/8/8/8/8/4KR1R w FH - 0 1",
         "castling letter H: a second white castling rook on one side of the king", "f1 - - -"},
        {"4k3/8/8/8/8/8/8/4KR1R w KF - 0 1",
         "castling letter F: a second white castling rook on one side of the king", "h1 - - -"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        EXPECT_EQ(parse_fen_960(c.fen), c.problem);
        EXPECT_EQ(castling_rooks(root_record(pos)), c.rooks);
        EXPECT_TRUE(board_is_consistent(pos, root_record(pos)));
        // Standard chess reads the same field leniently, as ever.
        setup_position(c.fen);
        EXPECT_EQ(parse_fen(pos, c.fen, root_record(pos)), "");
    }
}

// FENs are written in Shredder-FEN in Chess960, whichever notation was read,
// and read back to the same position, key and rooks.
TEST(Chess960Fen, WrittenInShredderFenAndReadBack) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {START_FEN, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1 "},
        {"nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w KQkq - 0 1",
         "nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w GBgb - 0 1 "},
        {"rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BBQNNRKR w KQkq - 0 1",
         "rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BBQNNRKR w HFca - 0 1 "},
        {"4k3/8/8/8/8/8/8/4KR1R w K - 3 9", "4k3/8/8/8/8/8/8/4KR1R w H - 3 9 "},
        {"4k3/8/8/8/8/8/8/4KR1R w F - 3 9", "4k3/8/8/8/8/8/8/4KR1R w F - 3 9 "},
        {"r1k4r/pppppppp/8/8/8/8/PPPPPPPP/R1K4R b qkQK - 0 1",
         "r1k4r/pppppppp/8/8/8/8/PPPPPPPP/R1K4R b HAha - 0 1 "},
        {"1rk3r1/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/1RK3R1 w gB f6 0 3",
         "1rk3r1/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/1RK3R1 w Bg f6 0 3 "},
        {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", "4k3/8/8/8/8/8/8/4K3 w - - 0 1 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        ASSERT_EQ(parse_fen_960(c.in), "");
        const U64 key = root_record(pos)->key;
        const std::string rooks = castling_rooks(root_record(pos));
        EXPECT_EQ(position_to_fen(pos, root_record(pos)), c.out);
        ASSERT_EQ(parse_fen_960(c.out), "");
        EXPECT_EQ(position_to_fen(pos, root_record(pos)), c.out);
        EXPECT_EQ(root_record(pos)->key, key);
        EXPECT_EQ(castling_rooks(root_record(pos)), rooks);
    }
    // Every position of the Chess960 perft table, in the notation it is written in.
    for (const PerftCase& c : load_perft960_table()) {
        SCOPED_TRACE(c.fen);
        ASSERT_EQ(parse_fen_960(c.fen.c_str()), "");
        const U64 key = root_record(pos)->key;
        const std::string rooks = castling_rooks(root_record(pos)), written = position_to_fen(pos, root_record(pos));
        ASSERT_EQ(parse_fen_960(written.c_str()), "");
        EXPECT_EQ(position_to_fen(pos, root_record(pos)), written);
        EXPECT_EQ(root_record(pos)->key, key);
        EXPECT_EQ(castling_rooks(root_record(pos)), rooks);
    }
}

TEST(Chess960Fen, DiagramShowsTheCastlingField) {
    parse_fen_960("rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BBQNNRKR w KQkq - 0 1");
    std::string out = print_board_output(root_record(pos));
    EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2)), "\ncastling: HFca\n");
    parse_fen_960("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
    out = print_board_output(root_record(pos));
    EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2)), "\ncastling: -\n");
}

// Castling text and where king and rook land. In Chess960 the king takes its
// own rook; standard chess also reads that form beside its own.
TEST(Chess960MoveText, CastlingIsWrittenAndReadAsKingTakesRook) {
    struct Case {
        bool chess960;
        const char* fen;
        const char* text;
        const char* after;    // "" when the text names no legal move
        const char* written;  // the text of the move that leads there
    };
    const Case cases[] = {
        {true, "1r4kr/pppppppp/8/8/8/8/PPPPPPPP/1R4KR w HBhb - 0 1", "g1h1",
         "1r4kr/pppppppp/8/8/8/8/PPPPPPPP/1R3RK1 b hb - 1 1 ", "g1h1"},
        {true, "1r4kr/pppppppp/8/8/8/8/PPPPPPPP/1R4KR w HBhb - 0 1", "g1b1",
         "1r4kr/pppppppp/8/8/8/8/PPPPPPPP/2KR3R b hb - 1 1 ", "g1b1"},
        {true, "r1k4r/pppppppp/8/8/8/8/PPPPPPPP/R1K4R b KQkq - 0 1", "c8a8",
         "2kr3r/pppppppp/8/8/8/8/PPPPPPPP/R1K4R w HA - 1 2 ", "c8a8"},
        {true, "r1k4r/pppppppp/8/8/8/8/PPPPPPPP/R1K4R b KQkq - 0 1", "c8h8",
         "r4rk1/pppppppp/8/8/8/8/PPPPPPPP/R1K4R w HA - 1 2 ", "c8h8"},
        {true, "rk5r/pppppppp/8/8/8/8/PPPPPPPP/RK5R w KQkq - 0 1", "b1a1",
         "rk5r/pppppppp/8/8/8/8/PPPPPPPP/2KR3R b ha - 1 1 ", "b1a1"},
        {true, "rk5r/pppppppp/8/8/8/8/PPPPPPPP/RK5R w KQkq - 0 1", "b1h1",
         "rk5r/pppppppp/8/8/8/8/PPPPPPPP/R4RK1 b ha - 1 1 ", "b1h1"},
        {true, "3rkr2/pppppppp/8/8/8/8/PPPPPPPP/3RKR2 w FDfd - 0 1", "e1f1",
         "3rkr2/pppppppp/8/8/8/8/PPPPPPPP/3R1RK1 b fd - 1 1 ", "e1f1"},
        {true, "3rkr2/pppppppp/8/8/8/8/PPPPPPPP/3RKR2 w FDfd - 0 1", "e1d1",
         "3rkr2/pppppppp/8/8/8/8/PPPPPPPP/2KR1R2 b fd - 1 1 ", "e1d1"},
        {true, "2rk3r/pppppppp/8/8/8/8/PPPPPPPP/2RK3R w HChc - 0 1", "d1c1",
         "2rk3r/pppppppp/8/8/8/8/PPPPPPPP/2KR3R b hc - 1 1 ", "d1c1"},
        {true, "1rk3r1/pppppppp/8/8/8/8/PPPPPPPP/1R3KR1 w GBgb - 0 1", "f1g1",
         "1rk3r1/pppppppp/8/8/8/8/PPPPPPPP/1R3RK1 b gb - 1 1 ", "f1g1"},
        {true, "4k3/pppppppp/8/8/8/8/PPPPPPPP/4KR1R w F - 0 1", "e1f1",
         "4k3/pppppppp/8/8/8/8/PPPPPPPP/5RKR b - - 1 1 ", "e1f1"},
        {true, "4k3/pppppppp/8/8/8/8/PPPPPPPP/R1R1K3 w C - 0 1", "e1c1",
         "4k3/pppppppp/8/8/8/8/PPPPPPPP/R1KR4 b - - 1 1 ", "e1c1"},
        // In Chess960 the king's destination is only an ordinary step.
        {true, "4k3/8/8/8/8/8/8/5K1R w H - 0 1", "f1g1", "4k3/8/8/8/8/8/8/6KR b - - 1 1 ", "f1g1"},
        {true, "4k3/8/8/8/8/8/8/5K1R w H - 0 1", "f1h1", "4k3/8/8/8/8/8/8/5RK1 b - - 1 1 ", "f1h1"},
        {true, "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1g1", "", ""},
        {true, "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1h1", "r3k2r/8/8/8/8/8/8/R4RK1 b ha - 1 1 ", "e1h1"},
        // Standard chess: the king's step as ever; the king taking its rook is read too.
        {false, "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1g1", "r3k2r/8/8/8/8/8/8/R4RK1 b kq - 1 1 ", "e1g1"},
        {false, "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1h1", "r3k2r/8/8/8/8/8/8/R4RK1 b kq - 1 1 ", "e1g1"},
        {false, "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "e8a8", "2kr3r/8/8/8/8/8/8/R3K2R w KQ - 1 2 ", "e8c8"},
        {false, "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "e8c8", "2kr3r/8/8/8/8/8/8/R3K2R w KQ - 1 2 ", "e8c8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fen) + " moves " + c.text);
        PlyRecord* root = setup_position(c.fen, c.chess960);
        bool found = find_and_make_text_move(pos, parse_move_text(c.text), 0, root) != 0;
        EXPECT_EQ(found, *c.after != 0);
        if (!found) continue;
        EXPECT_EQ(position_to_fen(pos, root), c.after);
        EXPECT_TRUE(board_is_consistent(pos, root));
        setup_position(c.fen, c.chess960);
        generate_legal_moves(pos, root);
        std::string written;
        for (int i = 0; i < root->move_count; i++) {
            if (!make_move(pos, i, root, root->next)) continue;
            bool leads_there = position_to_fen(pos, root->next) == c.after;
            unmake_move(pos, i, root);
            if (leads_there) written = move_to_text(pos, root->moves[i]);
        }
        EXPECT_EQ(written, c.written);
    }
}

// Every legal move's text names that move and no other, so a bestmove or a
// principal variation always reads back.
TEST(Chess960MoveText, EveryLegalMoveReadsBackFromItsText) {
    for (const PerftCase& c : load_perft960_table()) {
        SCOPED_TRACE(c.fen);
        PlyRecord* root = setup_position(c.fen.c_str(), true);
        int legal = generate_legal_moves(pos, root);
        for (int i = 0; i < legal; i++) {
            const std::string text = move_to_text(pos, root->moves[i]);
            const Move word = parse_move_text(text.c_str());
            for (int j = 0; j < legal; j++)
                EXPECT_EQ(text_names_move(pos, root->moves[j], word, (word & MOVE_PROMOTION) != 0), i == j)
                    << text << " names " << move_to_text(pos, root->moves[j]);
        }
    }
}

// A right goes with its rook leaving or being taken on its start square,
// both with the king moving; another rook on the same wing takes no right with it.
TEST(Chess960Fen, RightsFollowTheirRooks) {
    struct Case {
        const char* fen;
        const char* moves;
        const char* rights;
    };
    const Case cases[] = {
        {"4k3/pppppppp/8/8/8/8/PPPPPPP1/4KR1R w F - 0 1", "h1h2", "F"},
        {"4k3/pppppppp/8/8/8/8/PPPPPPP1/4KR1R w F - 0 1", "f1g1", "-"},
        {"4k3/pppppppp/8/8/8/8/PPPPPPP1/4KR1R w H - 0 1", "f1g1", "H"},
        {"4k3/pppppppp/8/8/8/8/PPPPPPP1/4KR1R w H - 0 1", "h1h2", "-"},
        {"1r3k1r/B7/8/8/8/8/6b1/R1K4R w HAhb - 0 1", "a7b8", "HAh"},
        {"1r3k1r/B7/8/8/8/8/6b1/R1K4R w HAhb - 0 1", "a7b8 g2h1", "Ah"},
        {"1r3k1r/B7/8/8/8/8/6b1/R1K4R w HAhb - 0 1", "c1d2", "hb"},
        {"1r3k1r/B7/8/8/8/8/6b1/R1K4R w HAhb - 0 1", "a1b1 f8e8", "H"},
        {"3rkr2/pppppppp/8/8/8/8/PPPPP1PP/3RKR2 w FDfd - 0 1", "f1f2 d8c8", "Df"},
        {"rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BRNQKNRB w GBca - 0 1", "g2g3 b7b6 h1a8", "GBc"},
        {"rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BRNQKNRB w GBca - 0 1", "g2g3 b7b6 h1a8 b8a8", "GB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fen) + " moves " + c.moves);
        PlyRecord* root = setup_position(c.fen, true);
        apply_move_list(pos, c.moves, root);
        ASSERT_EQ(pos.info.history_count, int(strlen(c.moves) + 1) / 5);
        std::string fen = position_to_fen(pos, root);
        std::vector<std::string> fields = split_words(fen);
        ASSERT_GE(fields.size(), 3u);
        EXPECT_EQ(fields[2], c.rights);
        EXPECT_TRUE(board_is_consistent(pos, root));
    }
}

// ---- Position stack ----------------------------------------------------------------

TEST(PositionStack, RingAndInitialValues) {
    setup_position(START_FEN);
    init_position(pos);
    // The game starts in the first record, and the last one leads back to it.
    EXPECT_EQ(root_record(pos), &pos.records[0]);
    EXPECT_EQ(pos.records[STACK_SIZE - 1].next, &pos.records[0]);
    const PlyRecord* rec = &pos.records[0];
    for (int step = 1; step <= STACK_SIZE; step++) {
        EXPECT_EQ(rec->castling, 15);
        EXPECT_EQ(rec->ep_square, 0);
        EXPECT_EQ(rec->captured, NO_PIECE);
        EXPECT_EQ(rec->check_count, 0);
        EXPECT_EQ(rec->key, 0u);
        rec = rec->next;
        // The ring stays within the position's own records.
        ASSERT_TRUE(rec >= pos.records && rec < pos.records + STACK_SIZE) << "step " << step;
        if (step < STACK_SIZE) {
            ASSERT_NE(rec, &pos.records[0]) << "ring closes after " << step;
        }
    }
    EXPECT_EQ(rec, &pos.records[0]);
    EXPECT_EQ(piece_count(), 0);
    EXPECT_EQ(pos.board.occupancy[0] | pos.board.occupancy[1], 0u);
    for (int sq = 0; sq < 64; sq++) EXPECT_EQ(pos.board.mailbox[sq], NO_PIECE) << sq;
    // The counters and the game history start cleared as well.
    EXPECT_EQ(pos.board.material[0] + pos.board.material[1], 0);
    EXPECT_EQ(pos.info.history_count, 0);
    EXPECT_EQ(pos.info.halfmove_clock, 0);
    EXPECT_EQ(pos.info.irreversible_index, 0);
    EXPECT_EQ(pos.history[0].key, 0u);
}

// ---- Zobrist keys --------------------------------------------------------------

TEST(ZobristKeys, TablesAreDrawnWhereUsed) {
    setup_position(START_FEN);
    for (int sq = 0; sq < 64; sq++) {
        bool used = (sq >= 16 && sq < 24) || (sq >= 40 && sq < 48);
        EXPECT_EQ(ep_keys[sq] != 0, used) << sq;
    }
    for (int rights = 0; rights < 16; rights++) EXPECT_NE(castle_keys[rights], 0u) << rights;
    EXPECT_NE(side_key, 0u);
}

// The keys do not depend on what rand() was used for before (the magic search
// runs only when "magics.txt" is missing).
TEST(ZobristKeys, SameKeysWhateverRandDrewBefore) {
    srand(1);
    init_zobrist_keys();
    U64 first_pawn = piece_keys[W_PAWN][8], first_side = side_key, first_castle = castle_keys[15];
    srand(12345);
    for (int i = 0; i < 1000; i++) rand();
    init_zobrist_keys();
    EXPECT_EQ(piece_keys[W_PAWN][8], first_pawn);
    EXPECT_EQ(side_key, first_side);
    EXPECT_EQ(castle_keys[15], first_castle);
}

TEST(ZobristKeys, KeyIsTheXorOfItsParts) {
    PlyRecord* root = setup_position("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
    EXPECT_EQ(root->base_key, piece_keys[W_KING][4] ^ piece_keys[B_KING][60] ^ side_key);
    // No castling rights still count: the key of rights 0 is in.
    EXPECT_EQ(root->key, root->base_key ^ castle_keys[0]);

    root = setup_position("r3k2r/8/8/8/8/8/8/R3K2R b Kq - 0 1");
    EXPECT_EQ(root->base_key, piece_keys[W_KING][4] ^ piece_keys[B_KING][60] ^ piece_keys[W_ROOK][0] ^
                                  piece_keys[W_ROOK][7] ^ piece_keys[B_ROOK][56] ^ piece_keys[B_ROOK][63]);
    EXPECT_EQ(root->key, root->base_key ^ castle_keys[WHITE_SHORT | BLACK_LONG]);

    // The en-passant square is in the key only when a pawn can take there.
    root = setup_position("rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
    ASSERT_EQ(root->ep_square, square_of("e3"));
    EXPECT_EQ(root->key, root->base_key ^ castle_keys[15] ^ ep_keys[square_of("e3")]);
    root = setup_position("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
    ASSERT_EQ(root->ep_square, square_of("e3"));
    EXPECT_EQ(root->key, root->base_key ^ castle_keys[15]);
}

TEST(ZobristKeys, SideToMoveFlipsExactlyTheSideKey) {
    const char* placements[] = {
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR",
        "4k3/8/8/8/8/8/8/4K3",
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R",
    };
    for (const char* placement : placements) {
        std::string white = std::string(placement) + " w KQkq - 0 1";
        std::string black = std::string(placement) + " b KQkq - 0 1";
        PlyRecord* root = setup_position(white.c_str());
        U64 white_key = root->key, white_base = root->base_key;
        root = setup_position(black.c_str());
        EXPECT_EQ(white_key ^ root->key, side_key) << placement;
        EXPECT_EQ(white_base ^ root->base_key, side_key) << placement;
    }
}

TEST(ZobristKeys, FenRoundTripKeepsTheKey) {
    const char* cases[] = {
        START_FEN,
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2",
        "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 b - - 0 1",
    };
    for (const char* fen : cases) {
        PlyRecord* root = setup_position(fen);
        U64 key = root->key, base = root->base_key;
        std::string again = position_to_fen(pos, root);
        root = setup_position(again.c_str());
        EXPECT_EQ(root->key, key) << fen;
        EXPECT_EQ(root->base_key, base) << fen;
    }
}

TEST(ZobristKeys, DifferentPositionsGetDifferentKeys) {
    const char* fens[] = {
        START_FEN,
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQk - 0 1",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",
        "rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
        "rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1",
    };
    std::vector<U64> keys;
    for (const char* fen : fens) keys.push_back(setup_position(fen)->key);
    for (size_t i = 0; i < keys.size(); i++)
        for (size_t j = i + 1; j < keys.size(); j++) EXPECT_NE(keys[i], keys[j]) << fens[i] << " / " << fens[j];
}

// ---- Words of a command line ---------------------------------------------------

TEST(SplitWords, AnyRunOfBlanksOrTabsSeparates) {
    struct Case {
        const char* line;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"go infinite", {"go", "infinite"}},
        {"  go\t\twtime   1000\t", {"go", "wtime", "1000"}},
        {"isready\r", {"isready"}},
        {"position startpos moves e2e4\r", {"position", "startpos", "moves", "e2e4"}},
        {"", {}},
        {" \t ", {}},
        {"joho isready", {"joho", "isready"}},
    };
    for (const Case& c : cases) EXPECT_EQ(split_words(c.line), c.words) << '"' << c.line << '"';
}
