#include "board.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "attacks.h"
#include "platform.h"

U64 piece_keys[12][64];
U64 ep_keys[64];
U64 castle_keys[16];
U64 side_key;

const int piece_value[12] = {100, 100, 325, 325, 325, 325, 500, 500, 975, 975, 10000, 10000};

void init_position(Position& pos) {
    for (int i = 0; i < STACK_SIZE; i++) {
        PlyRecord& r = pos.records[i];
        r.next = &pos.records[(i + 1) % STACK_SIZE];
        r.check_count = 0;
        r.checker_square = 0;
        r.castling = 15;
        r.ep_square = 0;
        r.key = 0;
        r.base_key = 0;
        r.pawn_key = 0;
        r.captured = NO_PIECE;
        r.move_count = 0;
    }
    BoardState& board = pos.board;
    memset(board.pieces, 0, sizeof board.pieces);
    memset(board.occupancy, 0, sizeof board.occupancy);
    for (int& sq : board.mailbox) sq = NO_PIECE;
    board.side = WHITE;
    board.material[0] = board.material[1] = 0;
    pos.info = SearchInfo{};
    set_standard_castling(pos.castling_rules);
    pos.chess960 = false;
    clear_history(pos);
}

Position* new_position() {
    Position* pos = new Position;
    init_position(*pos);
    return pos;
}

void clear_move_counters(Position& pos) {
    pos.info.irreversible_index = 0;
    pos.info.halfmove_clock = 0;
    pos.info.history_count = 0;
}

void clear_history(Position& pos) { memset(pos.history, 0, sizeof pos.history); }

void copy_position(Position& to, const Position& from) {
    to.board = from.board;
    to.info = from.info;
    to.castling_rules = from.castling_rules;
    to.chess960 = from.chess960;
    memcpy(to.history, from.history, sizeof(HistoryEntry) * size_t(from.info.history_count + 1));
    PlyRecord* next = to.records[0].next;
    to.records[0] = from.records[0];
    to.records[0].next = next;
}

// The keys have a generator of their own (xorshift64*, fixed seed), apart from
// the C library's rand() that the magic search draws from: the keys, and so every
// node count, are the same whether or not "magics.txt" was there at start-up and
// whatever the platform's rand() is.
static const U64 KEY_SEED = 0x9E3779B97F4A7C15ULL;

static U64 next_key(U64& state) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1DULL;
}

void init_zobrist_keys() {
    U64 state = KEY_SEED;
    for (auto& row : piece_keys)
        for (U64& key : row) key = next_key(state);
    memset(ep_keys, 0, sizeof ep_keys);
    for (int sq = 16; sq < 24; sq++) ep_keys[sq] = next_key(state);
    for (int sq = 40; sq < 48; sq++) ep_keys[sq] = next_key(state);
    for (U64& key : castle_keys) key = next_key(state);
    side_key = next_key(state);
}

U64 compute_full_key(const Position& pos, PlyRecord* rec) {
    const BoardState& board = pos.board;
    U64 key = 0;
    for (int piece = 0; piece < 12; piece++)
        for (U64 b = board.pieces[piece]; b; b &= b - 1) key ^= piece_keys[piece][lowest_square(b)];
    U64 pawns = 0;
    for (int piece : {B_PAWN, W_PAWN})
        for (U64 b = board.pieces[piece]; b; b &= b - 1) pawns ^= piece_keys[piece][lowest_square(b)];
    rec->pawn_key = pawns;
    if (board.side == WHITE) key ^= side_key;
    rec->base_key = key;
    return key ^ castle_keys[rec->castling] ^ ep_keys[keyed_ep_square(board, rec->ep_square, board.side)];
}

int keyed_ep_square(const BoardState& board, int ep, int side_to_move) {
    if (!ep) return 0;
    return (pawn_attacks[side_to_move][ep] & board.pieces[make_piece(PAWN, side_to_move)]) ? ep : 0;
}

// Move counters in a FEN saturate here both ways: read larger values as this
// and write counters that grew past it as this, so every FEN the engine writes
// reads back to the same text.
constexpr int FEN_COUNTER_MAX = 999999999;

// Reads the leading decimal digits at *p, advancing past them.
static int read_number(const char*& p) {
    long long value = 0;
    while (isdigit((unsigned char)*p)) {
        value = value * 10 + (*p - '0');
        if (value > FEN_COUNTER_MAX) value = FEN_COUNTER_MAX;
        p++;
    }
    return int(value);
}

static int piece_at(const BoardState& board, int sq) {
    for (int piece = 0; piece < 12; piece++)
        if (board.pieces[piece] & bit(sq)) return piece;
    return NO_PIECE;
}

// The squares from a to b on one rank, both included.
static U64 rank_span(int a, int b) {
    U64 span = 0;
    for (int sq = a < b ? a : b; sq <= (a < b ? b : a); sq++) span |= bit(sq);
    return span;
}

// The squares castling with the rook on rook_sq must find empty and safe.
static void set_castling_squares(CastlingRules& rules, int index, int king_sq, int rook_sq) {
    int king_to = castling_king_to(index), rook_to = castling_rook_to(index);
    rules.rook_square[index] = rook_sq;
    // The start square is the check test's, unless the king stays there.
    rules.king_path[index] = king_sq == king_to ? bit(king_sq) : rank_span(king_sq, king_to) & ~bit(king_sq);
    rules.empty_squares[index] = (rank_span(king_sq, king_to) | rank_span(rook_sq, rook_to)) & ~bit(king_sq) & ~bit(rook_sq);
}

// Grants the right of the rook on rook_sq: a move from or to that square
// loses it, one from the king's square both rights of its side.
static void grant_castling(CastlingRules& rules, int index, int king_sq, int rook_sq) {
    set_castling_squares(rules, index, king_sq, rook_sq);
    rules.rights_kept[rook_sq] &= ~castling_right(index);
    rules.rights_kept[king_sq] &= ~(castling_right(index & 2) | castling_right(index | 1));
}

void set_standard_castling(CastlingRules& rules) {
    for (int& kept : rules.rights_kept) kept = 15;
    for (int index = 0; index < 4; index++) {
        int first_square = castling_colour(index) == WHITE ? 0 : 56;
        grant_castling(rules, index, first_square + 4, first_square + ((index & 1) ? 0 : 7));
    }
}

// Rights that the placement cannot support (king or rook away from home) are
// dropped, so castling never moves a piece that is not there.
static int supported_castling(const BoardState& board, int rights) {
    auto at = [&board](int sq, int piece) { return (board.pieces[piece] & bit(sq)) != 0; };
    if (!at(4, W_KING)) rights &= ~(WHITE_SHORT | WHITE_LONG);
    if (!at(7, W_ROOK)) rights &= ~WHITE_SHORT;
    if (!at(0, W_ROOK)) rights &= ~WHITE_LONG;
    if (!at(60, B_KING)) rights &= ~(BLACK_SHORT | BLACK_LONG);
    if (!at(63, B_ROOK)) rights &= ~BLACK_SHORT;
    if (!at(56, B_ROOK)) rights &= ~BLACK_LONG;
    return rights;
}

// The Chess960 castling field, from `field` up to `end`. Each letter must
// name a rook of its colour on that colour's first rank, with the king on the
// same rank: K and Q (k and q) the outermost rook on the king's h-side or
// a-side, a file letter the rook on that file, whichever side of the king it
// stands. Other characters are skipped as in standard chess. Granted rights
// go into `rights` and the rules; returns why the first refused letter was
// refused, empty when none was.
static std::string read_castling_960(const BoardState& board, const char* field, const char* end, int& rights,
                                     CastlingRules& rules) {
    std::string problem;
    for (const char* p = field; p < end; p++) {
        const char letter = *p, lower = char(tolower((unsigned char)letter));
        if (lower != 'k' && lower != 'q' && (lower < 'a' || lower > 'h')) continue;
        const int colour = isupper((unsigned char)letter) ? WHITE : BLACK;
        const int first = colour == WHITE ? 0 : 56;
        const std::string refused = std::string("castling letter ") + letter + ": ";
        const char* name = colour == WHITE ? "white" : "black";
        U64 king = board.pieces[make_piece(KING, colour)] & (0xFFULL << first);
        U64 rooks = board.pieces[make_piece(ROOK, colour)] & (0xFFULL << first);
        if (!king) {
            if (problem.empty()) problem = refused + "the " + name + " king is not on its first rank";
            continue;
        }
        int king_sq = lowest_square(king), rook_sq = -1;
        if (lower == 'k') {
            for (int sq = first + 7; sq > king_sq && rook_sq < 0; sq--)
                if (rooks & bit(sq)) rook_sq = sq;
        } else if (lower == 'q') {
            for (int sq = first; sq < king_sq && rook_sq < 0; sq++)
                if (rooks & bit(sq)) rook_sq = sq;
        } else if (rooks & bit(first + (lower - 'a'))) {
            rook_sq = first + (lower - 'a');
        }
        if (rook_sq < 0) {
            if (problem.empty()) {
                if (lower == 'k' || lower == 'q')
                    problem = refused + "no " + name + " rook on the king's " + (lower == 'k' ? "h" : "a") + "-side";
                else
                    problem = refused + "no " + name + " rook on " + lower + char(colour == WHITE ? '1' : '8');
            }
            continue;
        }
        int index = castling_index(colour, rook_sq < king_sq);
        if ((rights & castling_right(index)) && rules.rook_square[index] != rook_sq) {
            if (problem.empty()) problem = refused + "a second " + name + " castling rook on one side of the king";
            continue;
        }
        rights |= castling_right(index);
        grant_castling(rules, index, king_sq, rook_sq);
    }
    return problem;
}

// An en-passant square is kept only where a pawn can just have passed over it:
// otherwise an en-passant capture would take a pawn that is not there.
static int supported_ep_square(const BoardState& board, int sq) {
    if (sq == 0) return 0;
    int us = board.side;
    int pushed = us == WHITE ? sq - 8 : sq + 8;   // where the enemy pawn stands
    int origin = us == WHITE ? sq + 8 : sq - 8;   // where it came from
    if (rank_of(sq) != (us == WHITE ? 5 : 2)) return 0;
    U64 all = board.occupancy[0] | board.occupancy[1];
    if ((all & (bit(sq) | bit(origin))) || !(board.pieces[make_piece(PAWN, us ^ 1)] & bit(pushed)))
        return 0;
    return sq;
}

std::string parse_fen(Position& pos, const char* fen, PlyRecord* rec) {
    BoardState& board = pos.board;
    SearchInfo& search_info = pos.info;
    clear_history(pos);
    memset(board.pieces, 0, sizeof board.pieces);
    for (int& sq : board.mailbox) sq = NO_PIECE;
    rec->castling = 0;
    rec->ep_square = 0;
    rec->check_count = 0;
    rec->checker_square = 0;
    rec->captured = NO_PIECE;
    rec->key = 0;
    rec->move_count = 0;
    clear_move_counters(pos);
    search_info.start_fullmove = 1;
    board.side = WHITE;
    board.material[0] = board.material[1] = 0;

    // Placement: a8 first; "/" counts as a cell, and the cell after the eighth
    // starts the next rank down. Cells past the eighth of a rank and ranks below
    // the first are dropped, so a malformed placement never leaves the board.
    const char* p = fen;
    int rank = 7, cells = 0;
    bool placement_done = false;
    for (; *p; p++) {
        char ch = *p;
        if (ch == ' ') {
            placement_done = true;
            break;
        }
        const char* letter = strchr(PIECE_LETTERS, ch);
        if (letter && ch) {
            int piece = int(letter - PIECE_LETTERS);
            if (cells < 8 && rank >= 0) {
                int sq = make_square(cells, rank);
                board.pieces[piece] |= bit(sq);
                board.mailbox[sq] = piece;
                if (kind_of(piece) != KING) board.material[colour_of(piece)] += piece_value[piece];
            }
            cells++;
        } else if (ch == '/') {
            cells++;
        } else if (ch >= '1' && ch <= '8') {
            cells += ch - '0';
        } else {
            continue;
        }
        if (cells > 8) {
            rank--;
            cells = 0;
        }
    }
    board.occupancy[0] = board.occupancy[1] = 0;
    for (int piece = 0; piece < 12; piece++) board.occupancy[piece & 1] |= board.pieces[piece];

    int ep = 0;
    const char* castling_field = "";
    const char* castling_end = castling_field;
    if (placement_done) {
        p++;
        // Side to move.
        if (*p == 'b') board.side = BLACK;
        if (*p) p++;
        while (*p == ' ') p++;
        // Castling rights up to "-" or a blank.
        castling_field = p;
        while (*p && *p != ' ' && *p != '-') {
            if (*p == 'K') rec->castling |= WHITE_SHORT;
            if (*p == 'Q') rec->castling |= WHITE_LONG;
            if (*p == 'k') rec->castling |= BLACK_SHORT;
            if (*p == 'q') rec->castling |= BLACK_LONG;
            p++;
        }
        castling_end = p;
        while (*p && *p != ' ') p++;
        while (*p == ' ') p++;
        // En passant on any file, then both counters whatever that field held.
        if (*p >= 'a' && *p <= 'h' && p[1] >= '1' && p[1] <= '8') ep = make_square(p[0] - 'a', p[1] - '1');
        while (*p && *p != ' ') p++;
        while (*p == ' ') p++;
        search_info.halfmove_clock = read_number(p);
        while (*p == ' ') p++;
        int fullmove = read_number(p);
        if (fullmove > 0) search_info.start_fullmove = fullmove;
    }
    search_info.start_side = board.side;
    std::string problem;
    set_standard_castling(pos.castling_rules);
    if (pos.chess960) {
        // Rights not granted keep the standard squares: they are never used.
        for (int& kept : pos.castling_rules.rights_kept) kept = 15;
        rec->castling = 0;
        problem = read_castling_960(board, castling_field, castling_end, rec->castling, pos.castling_rules);
    } else {
        rec->castling = supported_castling(board, rec->castling);
    }
    rec->ep_square = supported_ep_square(board, ep);
    rec->key = compute_full_key(pos, rec);
    pos.history[0].key = rec->key;
    pos.history[0].irreversible_index = 0;
    return problem;
}

// The castling field: KQkq, or in Chess960 the rooks' files (Shredder-FEN:
// capitals for White), in the same order.
static std::string castling_field_text(const Position& pos, int rights) {
    std::string field;
    for (int index = 0; index < 4; index++) {
        if (!(rights & castling_right(index))) continue;
        bool white = castling_colour(index) == WHITE;
        if (pos.chess960) field += char((white ? 'A' : 'a') + file_of(pos.castling_rules.rook_square[index]));
        else field += "KQkq"[index];
    }
    return field.empty() ? "-" : field;
}

std::string position_to_fen(const Position& pos, const PlyRecord* rec) {
    const BoardState& board = pos.board;
    const SearchInfo& search_info = pos.info;
    std::string fen;
    for (int rank = 7; rank >= 0; rank--) {
        int empty = 0;
        for (int file = 0; file < 8; file++) {
            int piece = piece_at(pos.board, make_square(file, rank));
            if (piece == NO_PIECE) {
                empty++;
                continue;
            }
            if (empty) fen += char('0' + empty);
            empty = 0;
            fen += PIECE_LETTERS[piece];
        }
        if (empty) fen += char('0' + empty);
        if (rank) fen += '/';
    }
    fen += board.side == WHITE ? " w " : " b ";
    fen += castling_field_text(pos, rec->castling) + ' ';
    if (rec->ep_square) {
        fen += char('a' + file_of(rec->ep_square));
        fen += char('1' + rank_of(rec->ep_square));
    } else {
        fen += '-';
    }
    int plies = search_info.history_count + (search_info.start_side == BLACK ? 1 : 0);
    long long fullmove = (long long)search_info.start_fullmove + plies / 2;
    fen += ' ' + std::to_string(std::min(search_info.halfmove_clock, FEN_COUNTER_MAX)) + ' ' +
           std::to_string(std::min(fullmove, (long long)FEN_COUNTER_MAX)) + ' ';
    return fen;
}

void print_board(const Position& pos, const PlyRecord* rec) {
    static const char* const castling_text[16] = {"-",  "K",  "Q",   "QK",  "k",  "kK",  "kQ",  "kQK",
                                                  "q",  "qK", "qQ",  "qQK", "qk", "qkK", "qkQ", "qkQK"};
    char diagram[8 * 9 + 2];
    char* out = diagram;
    for (int rank = 7; rank >= 0; rank--) {
        *out++ = '\n';
        for (int file = 0; file < 8; file++) {
            int piece = piece_at(pos.board, make_square(file, rank));
            *out++ = piece == NO_PIECE ? '.' : PIECE_LETTERS[piece];
        }
    }
    *out++ = '\n';
    *out = 0;
    log_print("%s", diagram);
    if (rec->check_count) log_print("\ncheck!\n");
    std::string castling = pos.chess960 ? castling_field_text(pos, rec->castling) : castling_text[rec->castling & 15];
    log_print("\ncastling: %s\n", castling.c_str());
}

void print_bitboard(uint32_t low, uint32_t high) {
    U64 b = U64(high) << 32 | low;
    for (int rank = 7; rank >= 0; rank--) {
        char row[10] = "\n";
        for (int file = 0; file < 8; file++) row[1 + file] = (b & bit(make_square(file, rank))) ? '#' : '.';
        log_print("%s", row);
    }
    log_print("\n");
}

Move parse_move_text(const char* text) {
    for (int i = 0; i < 4; i++) {
        char lo = i % 2 == 0 ? 'a' : '1', hi = i % 2 == 0 ? 'h' : '8';
        if (text[i] < lo || text[i] > hi) return 0;
    }
    int from = make_square(text[0] - 'a', text[1] - '1');
    int to = make_square(text[2] - 'a', text[3] - '1');
    Move m = Move(from) << 16 | Move(to) << 8;
    const char* promo = text[4] ? strchr("nbrq", tolower((unsigned char)text[4])) : nullptr;
    if (promo) m |= MOVE_PROMOTION | Move(promo - "nbrq");
    return m;
}

int move_text_to(const Position& pos, Move m) {
    if ((m & MOVE_CASTLE) && pos.chess960) return pos.castling_rules.rook_square[castling_index_of(m)];
    return move_to(m);
}

std::string move_to_text(const Position& pos, Move m) {
    if (m == 0) return "0000";  // UCI's null move
    char text[6];
    int from = move_from(m), to = move_text_to(pos, m);
    text[0] = char('a' + file_of(from));
    text[1] = char('1' + rank_of(from));
    text[2] = char('a' + file_of(to));
    text[3] = char('1' + rank_of(to));
    text[4] = (m & MOVE_PROMOTION) ? "nbrq"[m & 3] : 0;
    text[5] = 0;
    return text;
}

bool text_names_move(const Position& pos, Move m, Move word, bool compare_promotion) {
    Move mask = compare_promotion ? 0xFFFF13u : 0xFFFF00u;
    if (!(m & MOVE_CASTLE)) return (m & mask) == (word & mask);
    Move takes_rook = (m & ~Move(0x3F00)) | Move(pos.castling_rules.rook_square[castling_index_of(m)]) << 8;
    if ((takes_rook & mask) == (word & mask)) return true;
    return !pos.chess960 && (m & mask) == (word & mask);
}

bool board_is_consistent(const Position& pos, const PlyRecord* rec) {
    const BoardState& board = pos.board;
    U64 seen = 0, occ[2] = {0, 0};
    int material[2] = {0, 0};
    for (int piece = 0; piece < 12; piece++) {
        U64 b = board.pieces[piece];
        if (b & seen) return false;
        seen |= b;
        occ[piece & 1] |= b;
        for (; b; b &= b - 1) {
            int sq = lowest_square(b);
            if (board.mailbox[sq] != piece) return false;
            if (kind_of(piece) != KING) material[piece & 1] += piece_value[piece];
        }
    }
    for (int sq = 0; sq < 64; sq++)
        if (!(seen & bit(sq)) && board.mailbox[sq] != NO_PIECE) return false;
    if (occ[0] != board.occupancy[0] || occ[1] != board.occupancy[1]) return false;
    if (material[0] != board.material[0] || material[1] != board.material[1]) return false;
    PlyRecord copy = *rec;
    U64 key = compute_full_key(pos, &copy);
    return key == rec->key && copy.base_key == rec->base_key && copy.pawn_key == rec->pawn_key;
}
