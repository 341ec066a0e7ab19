#include "movegen.h"

#include <cstring>

#include "attacks.h"
#include "platform.h"

constexpr size_t MAX_ECHO = 1000;  // longest piece of a bad move list quoted back

// ---- Generation -----------------------------------------------------------

constexpr U64 RANK_2 = 0x000000000000FF00ULL;
constexpr U64 RANK_7 = 0x00FF000000000000ULL;
constexpr U64 RANK_1_AND_8 = 0xFF000000000000FFULL;

void update_check_info(const Position& pos, PlyRecord* rec) {
    const BoardState& board = pos.board;
    int own = board.side, enemy = own ^ 1;
    const U64* p = board.pieces;
    U64 king = p[make_piece(KING, own)];
    rec->check_count = 0;
    if (!king) return;
    int k = lowest_square(king);
    U64 occ = board.occupancy[0] | board.occupancy[1];
    U64 queens = p[make_piece(QUEEN, enemy)];
    U64 sliders = (rook_attacks(k, occ) & (p[make_piece(ROOK, enemy)] | queens)) |
                  (bishop_attacks(k, occ) & (p[make_piece(BISHOP, enemy)] | queens));
    int count = popcount(sliders);
    if (sliders) rec->checker_square = lowest_square(sliders);
    U64 pawns = pawn_attacks[enemy][k] & p[make_piece(PAWN, enemy)];
    if (pawns) {
        count += popcount(pawns);  // two only in a set-up position, never in a game
        rec->checker_square = lowest_square(pawns);
    }
    for (U64 knights = knight_attacks[k] & p[make_piece(KNIGHT, enemy)]; knights;) {
        count++;
        rec->checker_square = pop_lowest(knights);
    }
    U64 enemy_king = king_attacks[k] & p[make_piece(KING, enemy)];
    if (enemy_king) {
        count++;
        rec->checker_square = lowest_square(enemy_king);
    }
    rec->check_count = count;
}

static inline void add_move(PlyRecord* rec, Move m) { rec->moves[rec->move_count++] = m; }

static inline void add_moves_from(PlyRecord* rec, int from, int piece, U64 targets, U64 enemies) {
    while (targets) {
        int to = pop_lowest(targets);
        add_move(rec, make_move_word(from, to, piece, (enemies & bit(to)) ? MOVE_CAPTURE : 0));
    }
}

// Pawn moves landing on `targets`, each from `delta` squares behind (in the
// mover's direction); a landing on the last rank becomes the four promotions
// knight, bishop, rook, queen.
static inline void add_pawn_moves(PlyRecord* rec, U64 targets, int delta, int piece, Move flags) {
    int side = colour_of(piece);
    while (targets) {
        int to = pop_lowest(targets);
        int from = side == WHITE ? to - delta : to + delta;
        if (bit(to) & RANK_1_AND_8) {
            for (Move promo = 0; promo < 4; promo++)
                add_move(rec, make_move_word(from, to, piece, flags | MOVE_PROMOTION | promo));
        } else {
            add_move(rec, make_move_word(from, to, piece, flags));
        }
    }
}

static inline U64 forward(U64 b, int side, int n) { return side == WHITE ? b << n : b >> n; }

// The shared frame of both generators. `quiet` selects all moves or the
// tactical subset (captures, en passant, promotions, steps to the seventh rank).
static void generate(const Position& pos, PlyRecord* rec, bool quiet) {
    const BoardState& board = pos.board;
    rec->target_mask = ~0ULL;
    rec->second_mask = 0;
    rec->captured = NO_PIECE;
    rec->move_count = 0;
    update_check_info(pos, rec);

    int own = board.side;
    const U64* p = board.pieces;
    U64 O = board.occupancy[own], E = board.occupancy[own ^ 1], A = O | E;
    int king_code = make_piece(KING, own);
    U64 king = p[king_code];
    int k = king ? lowest_square(king) : 0;
    if (king) add_moves_from(rec, k, king_code, king_attacks[k] & (quiet ? ~O : E), E);
    if (rec->check_count >= 2) return;

    U64 T = ~0ULL;
    if (rec->check_count == 1) T = between[k][rec->checker_square] | bit(rec->checker_square);
    rec->target_mask = T;

    // Castling, short before long; whether the king's path is safe is left to make.
    if (quiet && (rec->castling & (own == WHITE ? WHITE_SHORT | WHITE_LONG : BLACK_SHORT | BLACK_LONG))) {
        const CastlingRules& rules = pos.castling_rules;
        for (int index = castling_index(own, false); index <= castling_index(own, true); index++)
            if ((rec->castling & castling_right(index)) && !(A & rules.empty_squares[index]))
                add_move(rec, make_move_word(k, castling_king_to(index), king_code, MOVE_CASTLE));
    }

    U64 piece_targets = (quiet ? ~O : E) & T;
    for (int kind = QUEEN; kind >= KNIGHT; kind--) {
        int code = make_piece(kind, own);
        for (U64 b = p[code]; b;) {
            int from = pop_lowest(b);
            U64 att = kind == QUEEN    ? queen_attacks(from, A)
                      : kind == ROOK   ? rook_attacks(from, A)
                      : kind == BISHOP ? bishop_attacks(from, A)
                                       : knight_attacks[from];
            add_moves_from(rec, from, code, att & piece_targets, E);
        }
    }

    int pawn = make_piece(PAWN, own);
    U64 P = p[pawn];
    int toward_h = own == WHITE ? 9 : 7, toward_a = own == WHITE ? 7 : 9;
    add_pawn_moves(rec, forward(P & NOT_FILE_H, own, toward_h) & E & T, toward_h, pawn, MOVE_CAPTURE);
    add_pawn_moves(rec, forward(P & NOT_FILE_A, own, toward_a) & E & T, toward_a, pawn, MOVE_CAPTURE);
    U64 single = forward(P, own, 8) & ~A & T;
    if (!quiet) single &= own == WHITE ? (RANK_7 | RANK_1_AND_8) : (RANK_2 | RANK_1_AND_8);
    add_pawn_moves(rec, single, 8, pawn, 0);
    if (quiet) {
        U64 start_rank = own == WHITE ? RANK_2 : RANK_7;
        U64 doubles = forward(forward(P & start_rank, own, 8) & ~A, own, 8) & ~A & T;
        add_pawn_moves(rec, doubles, 16, pawn, MOVE_DOUBLE_STEP);
    }
    if (rec->ep_square) {
        for (U64 b = pawn_attacks[own][rec->ep_square] & P; b;)
            add_move(rec, make_move_word(pop_lowest(b), rec->ep_square, pawn, MOVE_EN_PASSANT));
    }
}

void generate_moves(const Position& pos, PlyRecord* rec) { generate(pos, rec, true); }
void generate_captures(const Position& pos, PlyRecord* rec) { generate(pos, rec, false); }

// The own pieces pinned to the king on k, each with the line it may still
// move along (up to and including the pinner) in pin_line.
static inline U64 find_pins(const BoardState& board, int own, int k, U64 rooks, U64 bishops, U64* pin_line) {
    const U64 occ = board.occupancy[0] | board.occupancy[1], theirs = board.occupancy[own ^ 1];
    U64 pinned = 0;
    U64 snipers = (rook_attacks(k, theirs) & rooks) | (bishop_attacks(k, theirs) & bishops);
    while (snipers) {
        int s = pop_lowest(snipers);
        U64 blockers = between[k][s] & occ;
        if (blockers && !(blockers & (blockers - 1)) && (blockers & board.occupancy[own])) {
            pinned |= blockers;
            pin_line[lowest_square(blockers)] = between[k][s] | bit(s);
        }
    }
    return pinned;
}

// Is sq attacked by `enemy`, sliders seeing through the occupancy given (the
// board without the king that is to step there)?
static inline bool attacked_by(const U64* p, int enemy, int sq, U64 occ, U64 rooks, U64 bishops) {
    return (pawn_attacks[enemy][sq] & p[make_piece(PAWN, enemy)]) || (knight_attacks[sq] & p[make_piece(KNIGHT, enemy)]) ||
           (king_attacks[sq] & p[make_piece(KING, enemy)]) || (bishop_attacks(sq, occ) & bishops) ||
           (rook_attacks(sq, occ) & rooks);
}

// Is no square of the king's way for right `index` attacked by `enemy`, with
// king and rook lifted? The rule reads the board before castling, but the
// verdicts agree: the lifted rook only ever shields squares from a piece on
// the rank behind it, which then attacks the king's destination once the
// rook has passed (the lifted king only uncovers squares to a piece that
// gives check already, and a king in check does not castle).
static inline bool castling_path_safe(const Position& pos, int index, int enemy, U64 occ_without_king, U64 rooks,
                                      U64 bishops) {
    const U64* p = pos.board.pieces;
    U64 occ = occ_without_king & ~bit(pos.castling_rules.rook_square[index]);
    for (U64 path = pos.castling_rules.king_path[index]; path;) {
        int sq = pop_lowest(path);
        if (attacked_by(p, enemy, sq, occ, rooks, bishops)) return false;
    }
    return true;
}

// Number of legal moves, without making any: moves of pinned pieces must stay
// on their pin line, king steps must not land on attacked squares, castling
// must not pass one. Only en passant is tried on the board.
int count_legal_moves(Position& pos, PlyRecord* rec) {
    generate_moves(pos, rec);
    const BoardState& board = pos.board;
    int own = board.side, enemy = own ^ 1;
    const U64* p = board.pieces;
    U64 king = p[make_piece(KING, own)];
    if (!king) return rec->move_count;
    int k = lowest_square(king);
    U64 occ = board.occupancy[0] | board.occupancy[1];
    U64 queens = p[make_piece(QUEEN, enemy)];
    U64 rooks = p[make_piece(ROOK, enemy)] | queens, bishops = p[make_piece(BISHOP, enemy)] | queens;

    // Pinned pieces and the squares each may still reach.
    U64 pin_line[64];
    U64 pinned = find_pins(board, own, k, rooks, bishops, pin_line);

    U64 occ_without_king = occ & ~king;
    auto attacked = [&](int sq) { return attacked_by(p, enemy, sq, occ_without_king, rooks, bishops); };

    int legal = 0;
    bool castling_listed = false;
    for (int i = 0; i < rec->move_count; i++) {
        Move m = rec->moves[i];
        int from = move_from(m), to = move_to(m);
        if (from == k) {
            if (m & MOVE_CASTLE) castling_listed = true;
            else legal += !attacked(to);
        } else if (m & MOVE_EN_PASSANT) {
            if (make_move(pos, i, rec, rec->next)) {
                legal++;
                unmake_move(pos, i, rec);
            }
        } else {
            legal += !(pinned & bit(from)) || (pin_line[from] & bit(to));
        }
    }
    // Castling moves, counted apart so as not to slow the loop: the list holds
    // one for each right whose squares are empty, as generate puts them there.
    if (castling_listed && !rec->check_count) {
        for (int index = castling_index(own, false); index <= castling_index(own, true); index++)
            if ((rec->castling & castling_right(index)) && !(occ & pos.castling_rules.empty_squares[index]))
                legal += castling_path_safe(pos, index, enemy, occ_without_king, rooks, bishops);
    }
    return legal;
}

// The legal moves counted from attack sets, with no move list: the last ply
// of perft. Out of check, a piece that is not pinned may go to any square its
// attacks reach that no own piece holds, a pinned one only along its pin; the
// king only to squares no enemy piece attacks once it has left. In check (and
// without a king) the moves are generated and counted as count_legal_moves does.
int count_legal_moves_fast(Position& pos, PlyRecord* rec) {
    update_check_info(pos, rec);
    const BoardState& board = pos.board;
    const int own = board.side, enemy = own ^ 1;
    const U64* p = board.pieces;
    const U64 king = p[make_piece(KING, own)];
    if (rec->check_count || !king) return count_legal_moves(pos, rec);
    const int k = lowest_square(king);
    const U64 mine = board.occupancy[own], theirs = board.occupancy[enemy], occ = mine | theirs;
    const U64 queens = p[make_piece(QUEEN, enemy)];
    const U64 rooks = p[make_piece(ROOK, enemy)] | queens, bishops = p[make_piece(BISHOP, enemy)] | queens;

    U64 pin_line[64];
    const U64 pinned = find_pins(board, own, k, rooks, bishops, pin_line);
    const U64 free_to = ~mine;
    int legal = 0;

    // Knights: a pinned knight cannot move at all.
    for (U64 b = p[make_piece(KNIGHT, own)] & ~pinned; b;) legal += popcount(knight_attacks[pop_lowest(b)] & free_to);
    for (U64 b = p[make_piece(BISHOP, own)] | p[make_piece(QUEEN, own)]; b;) {
        int sq = pop_lowest(b);
        U64 to = bishop_attacks(sq, occ) & free_to;
        legal += popcount(pinned & bit(sq) ? to & pin_line[sq] : to);
    }
    for (U64 b = p[make_piece(ROOK, own)] | p[make_piece(QUEEN, own)]; b;) {
        int sq = pop_lowest(b);
        U64 to = rook_attacks(sq, occ) & free_to;
        legal += popcount(pinned & bit(sq) ? to & pin_line[sq] : to);
    }

    // Pawns: the free ones all at once by shifts, the pinned ones one by one.
    // A move to the last rank counts as its four promotions.
    const U64 empty = ~occ, pawns = p[make_piece(PAWN, own)];
    const U64 last_rank = own == WHITE ? 0xFF00000000000000ULL : 0xFFULL;
    auto forward = [own](U64 b, int n) { return own == WHITE ? b << n : b >> n; };
    auto count_targets = [&](U64 to) { return popcount(to & ~last_rank) + 4 * popcount(to & last_rank); };
    {
        U64 free_pawns = pawns & ~pinned;
        U64 single = forward(free_pawns, 8) & empty;
        U64 doubled = forward(single & (own == WHITE ? 0xFF0000ULL : 0xFF0000000000ULL), 8) & empty;
        U64 west = forward(free_pawns & NOT_FILE_A, own == WHITE ? 7 : 9) & theirs;
        U64 east = forward(free_pawns & NOT_FILE_H, own == WHITE ? 9 : 7) & theirs;
        legal += count_targets(single) + popcount(doubled) + count_targets(west) + count_targets(east);
    }
    for (U64 b = pawns & pinned; b;) {
        int sq = pop_lowest(b);
        U64 single = forward(bit(sq), 8) & empty;
        U64 doubled = forward(single & (own == WHITE ? 0xFF0000ULL : 0xFF0000000000ULL), 8) & empty;
        U64 to = (single | doubled | (pawn_attacks[enemy][sq] & theirs)) & pin_line[sq];
        legal += count_targets(to);
    }
    // En passant: the two pawns leave their squares at once, which may open
    // a line to the king that no pin test sees; so it is played out on the
    // occupancy.
    if (rec->ep_square) {
        const int ep = rec->ep_square, victim = ep ^ 8;
        for (U64 b = pawn_attacks[own][ep] & pawns; b;) {
            int sq = pop_lowest(b);
            U64 after = (occ & ~bit(sq) & ~bit(victim)) | bit(ep);
            legal += !(rook_attacks(k, after) & rooks) && !(bishop_attacks(k, after) & bishops);
        }
    }

    // The king, on squares that stay unattacked once it has left its own.
    const U64 occ_without_king = occ & ~king;
    for (U64 to = king_attacks[k] & free_to; to;)
        legal += !attacked_by(p, enemy, pop_lowest(to), occ_without_king, rooks, bishops);
    for (int index = castling_index(own, false); index <= castling_index(own, true); index++)
        if ((rec->castling & castling_right(index)) && !(occ & pos.castling_rules.empty_squares[index]))
            legal += castling_path_safe(pos, index, enemy, occ_without_king, rooks, bishops);
    return legal;
}

// ---- Make and unmake ------------------------------------------------------

static inline void move_piece_bits(BoardState& board, int piece, int from, int to) {
    U64 from_to = bit(from) | bit(to);
    board.pieces[piece] ^= from_to;
    board.occupancy[colour_of(piece)] ^= from_to;
    board.mailbox[from] = NO_PIECE;
    board.mailbox[to] = piece;
}

static inline void toggle_piece(BoardState& board, int piece, int sq) {
    board.pieces[piece] ^= bit(sq);
    board.occupancy[colour_of(piece)] ^= bit(sq);
}

// Castling lifts king and rook before either lands: in Chess960 each may
// start on the other's destination, or already stand on its own.
static inline void move_castling_pieces(BoardState& board, int king, int king_from, int king_to, int rook_from,
                                        int rook_to) {
    int rook = make_piece(ROOK, colour_of(king));
    toggle_piece(board, king, king_from);
    toggle_piece(board, rook, rook_from);
    toggle_piece(board, king, king_to);
    toggle_piece(board, rook, rook_to);
    board.mailbox[king_from] = board.mailbox[rook_from] = NO_PIECE;
    board.mailbox[king_to] = king;
    board.mailbox[rook_to] = rook;
}

// Takes the board changes of m back; the mover is the side not to move now.
static void undo_board(BoardState& board, const CastlingRules& rules, Move m, PlyRecord* cur) {
    int from = move_from(m), to = move_to(m), piece = move_piece(m);
    int side = colour_of(piece), enemy = side ^ 1;
    switch (move_kind(m)) {
    case MOVE_CAPTURE | MOVE_PROMOTION:
    case MOVE_PROMOTION: {
        int promoted = make_piece(move_promotion_kind(m), side);
        toggle_piece(board, promoted, to);
        toggle_piece(board, piece, from);
        board.mailbox[from] = piece;
        board.mailbox[to] = NO_PIECE;
        board.material[side] -= piece_value[promoted] - piece_value[piece];
        break;
    }
    case MOVE_CASTLE: {
        int index = castling_index_of(m);
        move_castling_pieces(board, piece, to, from, castling_rook_to(index), rules.rook_square[index]);
        break;
    }
    default:
        move_piece_bits(board, piece, to, from);
        break;
    }
    if (m & MOVE_CAPTURE) {
        int cap = cur->captured;
        toggle_piece(board, cap, to);
        board.mailbox[to] = cap;
        board.material[enemy] += piece_value[cap];
        cur->captured = NO_PIECE;
    } else if (m & MOVE_EN_PASSANT) {
        int cap_sq = make_square(file_of(to), rank_of(from));
        toggle_piece(board, cur->captured, cap_sq);
        board.mailbox[cap_sq] = cur->captured;
        board.material[enemy] += piece_value[cur->captured];
        cur->captured = NO_PIECE;
    }
}

static inline void push_history(Position& pos, U64 key) {
    SearchInfo& si = pos.info;
    si.history_count++;
    pos.history[si.history_count].key = key;
    pos.history[si.history_count].irreversible_index = si.irreversible_index;
}

static inline void pop_history(Position& pos, const PlyRecord* cur) {
    SearchInfo& si = pos.info;
    pos.history[si.history_count] = HistoryEntry{0, 0};
    si.history_count--;
    si.irreversible_index = cur->saved_irreversible;
    si.halfmove_clock = cur->saved_halfmove;
}

Move make_move(Position& pos, int index, PlyRecord* cur, PlyRecord* next) {
    Move m = cur->moves[index];
    BoardState& board = pos.board;
    SearchInfo& si = pos.info;
    if (si.history_count + 1 >= HISTORY_SIZE) return 0;  // never reached: game moves stop well before

    int side = board.side, enemy = side ^ 1;
    int from = move_from(m), to = move_to(m), piece = move_piece(m);
    const int kind = move_kind(m);

    // Everything a refusal puts back (cur and next may be the same record).
    const int saved_check_count = next->check_count, saved_checker = next->checker_square;
    const int saved_castling = next->castling, saved_ep = next->ep_square;
    const U64 saved_key = next->key, saved_base = next->base_key, saved_pawn_key = next->pawn_key;
    const int saved_halfmove = si.halfmove_clock, saved_irreversible = si.irreversible_index;

    if (kind == MOVE_CASTLE) {
        const U64* p = board.pieces;
        U64 queens = p[make_piece(QUEEN, enemy)];
        U64 occ_without_king = (board.occupancy[0] | board.occupancy[1]) & ~bit(from);
        if (cur->check_count || !castling_path_safe(pos, castling_index_of(m), enemy, occ_without_king,
                                                    p[make_piece(ROOK, enemy)] | queens, p[make_piece(BISHOP, enemy)] | queens))
            return 0;
    }

    cur->saved_halfmove = saved_halfmove;
    cur->saved_irreversible = saved_irreversible;
    U64 base = cur->base_key ^ side_key, pawn_key = cur->pawn_key;
    const int* rights_kept = pos.castling_rules.rights_kept;
    int castling = cur->castling & rights_kept[from] & rights_kept[to];
    int ep = 0;
    bool irreversible = true;

    if (m & MOVE_CAPTURE) {
        int cap = board.mailbox[to];
        cur->captured = cap;
        toggle_piece(board, cap, to);
        base ^= piece_keys[cap][to];
        if (kind_of(cap) == PAWN) pawn_key ^= piece_keys[cap][to];
        board.material[enemy] -= piece_value[cap];
    }
    switch (kind) {
    case MOVE_CAPTURE | MOVE_PROMOTION:
    case MOVE_PROMOTION: {
        int promoted = make_piece(move_promotion_kind(m), side);
        toggle_piece(board, piece, from);
        toggle_piece(board, promoted, to);
        board.mailbox[from] = NO_PIECE;
        board.mailbox[to] = promoted;
        base ^= piece_keys[piece][from] ^ piece_keys[promoted][to];
        pawn_key ^= piece_keys[piece][from];
        board.material[side] += piece_value[promoted] - piece_value[piece];
        break;
    }
    case MOVE_EN_PASSANT: {
        int cap = piece ^ 1;
        int cap_sq = make_square(file_of(to), rank_of(from));
        cur->captured = cap;
        toggle_piece(board, cap, cap_sq);
        board.mailbox[cap_sq] = NO_PIECE;
        base ^= piece_keys[cap][cap_sq];
        board.material[enemy] -= piece_value[cap];
        move_piece_bits(board, piece, from, to);
        base ^= piece_keys[piece][from] ^ piece_keys[piece][to];
        pawn_key ^= piece_keys[cap][cap_sq] ^ piece_keys[piece][from] ^ piece_keys[piece][to];
        break;
    }
    case MOVE_CASTLE: {
        int index = castling_index_of(m), rook = make_piece(ROOK, side);
        int rook_from = pos.castling_rules.rook_square[index], rook_to = castling_rook_to(index);
        move_castling_pieces(board, piece, from, to, rook_from, rook_to);
        base ^= piece_keys[piece][from] ^ piece_keys[piece][to] ^ piece_keys[rook][rook_from] ^
                piece_keys[rook][rook_to];
        irreversible = false;
        break;
    }
    default:  // quiet, capture, double step
        move_piece_bits(board, piece, from, to);
        base ^= piece_keys[piece][from] ^ piece_keys[piece][to];
        if (kind_of(piece) == PAWN) pawn_key ^= piece_keys[piece][from] ^ piece_keys[piece][to];
        if (kind == MOVE_DOUBLE_STEP) ep = (from + to) / 2;
        irreversible = kind != 0 || kind_of(piece) == PAWN;
        break;
    }
    if (irreversible) {
        si.irreversible_index = si.history_count;
        si.halfmove_clock = 0;
    } else {
        si.halfmove_clock++;
    }

    next->castling = castling;
    next->ep_square = ep;
    next->base_key = base;
    next->pawn_key = pawn_key;
    next->key = base ^ ep_keys[keyed_ep_square(board, ep, enemy)] ^ castle_keys[castling];

    // Legality: the mover's king must not stand attacked.
    update_check_info(pos, next);
    bool illegal = next->check_count != 0;
    next->check_count = saved_check_count;
    next->checker_square = saved_checker;
    if (illegal) {
        undo_board(board, pos.castling_rules, m, cur);
        next->castling = saved_castling;
        next->ep_square = saved_ep;
        next->key = saved_key;
        next->base_key = saved_base;
        next->pawn_key = saved_pawn_key;
        si.halfmove_clock = saved_halfmove;
        si.irreversible_index = saved_irreversible;
        return 0;
    }
    board.side ^= 1;
    push_history(pos, next->key);
    si.ply++;
    return m;
}

void unmake_move(Position& pos, int index, PlyRecord* cur) {
    pos.board.side ^= 1;
    pos.info.ply--;
    pop_history(pos, cur);
    undo_board(pos.board, pos.castling_rules, cur->moves[index], cur);
}

void make_null_move(Position& pos, PlyRecord* cur, PlyRecord* next) {
    SearchInfo& si = pos.info;
    next->ep_square = 0;
    next->castling = cur->castling;
    next->base_key = cur->base_key ^ side_key;
    next->pawn_key = cur->pawn_key;
    next->key = next->base_key ^ castle_keys[next->castling];
    pos.board.side ^= 1;
    si.ply++;
    cur->saved_halfmove = si.halfmove_clock;
    cur->saved_irreversible = si.irreversible_index;
    si.halfmove_clock++;
    // A repetition does not reach back across a null move.
    si.irreversible_index = si.history_count + 1;
    push_history(pos, next->key);
}

void unmake_null_move(Position& pos, PlyRecord* cur) {
    pos.board.side ^= 1;
    pos.info.ply--;
    pop_history(pos, cur);
}

// ---- Moves of a "position" command -----------------------------------------

static int find_text_move(const Position& pos, Move word, int compare_promotion, const PlyRecord* rec) {
    for (int i = 0; i < rec->move_count; i++)
        if (text_names_move(pos, rec->moves[i], word, compare_promotion)) return i;
    return -1;
}

int make_move_by_word(Position& pos, Move word, int compare_promotion, PlyRecord* rec) {
    generate_moves(pos, rec);
    int i = find_text_move(pos, word, compare_promotion, rec);
    if (i < 0) return 0;
    make_move(pos, i, rec, rec);
    return 1;
}

int find_and_make_text_move(Position& pos, Move move, int compare_promotion, PlyRecord* rec) {
    generate_moves(pos, rec);
    int i = find_text_move(pos, move, compare_promotion, rec);
    return i >= 0 && make_move(pos, i, rec, rec) != 0;
}

void apply_move_list(Position& pos, const char* text, PlyRecord* rec) {
    const SearchInfo& search_info = pos.info;
    int compare_promotion = 0;
    const char* p = text;
    for (;;) {
        while (*p == ' ') p++;
        if (!*p) return;
        Move m = parse_move_text(p);
        if (!m) return;
        if (m & MOVE_PROMOTION) compare_promotion = 1;
        if (search_info.history_count >= HISTORY_SIZE - HISTORY_SEARCH_RESERVE) {
            log_print("info string Game too long: moves from the %ith on are ignored\n", search_info.history_count + 1);
            return;
        }
        if (!find_and_make_text_move(pos, m, compare_promotion, rec)) {
            log_print("info string Can't understand move line\n");
            print_board(pos, rec);
            // The rest of the line, shortened so that it stays one line.
            size_t rest = strlen(p);
            if (rest > MAX_ECHO) log_print("%.*s... (%zu more characters)\n", int(MAX_ECHO), p, rest - MAX_ECHO);
            else log_print("%s\n", p);
            return;
        }
        while (*p && *p != ' ') p++;
    }
}

// ---- Repetition and the legal list -----------------------------------------

int is_repetition(const Position& pos, const PlyRecord* rec) {
    const SearchInfo& si = pos.info;
    // The entry at the irreversible index itself counts: after a capture it
    // holds the position before it (never equal to a later one), and at the
    // start of the history it holds the first position of the game.
    for (int i = si.history_count - 2; i >= si.irreversible_index; i -= 2)
        if (pos.history[i].key == rec->key) return 1;
    return 0;
}

void sort_by_score(int* scores, Move* moves, int count) {
    static const int gaps[] = {9, 5, 3, 2, 1};
    for (int gap : gaps) {
        if (gap >= count) continue;
        for (int i = gap; i < count; i++) {
            int score = scores[i];
            Move move = moves[i];
            int j = i;
            for (; j >= gap && scores[j - gap] < score; j -= gap) {
                scores[j] = scores[j - gap];
                moves[j] = moves[j - gap];
            }
            scores[j] = score;
            moves[j] = move;
        }
    }
}

int generate_legal_moves(Position& pos, PlyRecord* rec) {
    generate_moves(pos, rec);
    int flags[MAX_MOVES];
    int legal = 0;
    for (int i = 0; i < rec->move_count; i++) {
        flags[i] = make_move(pos, i, rec, rec->next) ? 1 : 0;
        if (flags[i]) {
            legal++;
            unmake_move(pos, i, rec);
        }
    }
    sort_by_score(flags, rec->moves, rec->move_count);
    rec->move_count = legal;
    return legal;
}

bool square_attacked(const BoardState& board, int sq, int by) {
    const U64* p = board.pieces;
    U64 occ = board.occupancy[0] | board.occupancy[1];
    U64 queens = p[make_piece(QUEEN, by)];
    return (pawn_attacks[by][sq] & p[make_piece(PAWN, by)]) || (knight_attacks[sq] & p[make_piece(KNIGHT, by)]) ||
           (king_attacks[sq] & p[make_piece(KING, by)]) ||
           (bishop_attacks(sq, occ) & (p[make_piece(BISHOP, by)] | queens)) ||
           (rook_attacks(sq, occ) & (p[make_piece(ROOK, by)] | queens));
}

std::string position_problem(const BoardState& board) {
    for (int side = BLACK; side <= WHITE; side++) {
        const char* name = side == WHITE ? "White" : "Black";
        if (popcount(board.pieces[make_piece(KING, side)]) != 1)
            return std::string(name) + " must have exactly one king";
        if (popcount(board.occupancy[side]) > 16) return std::string(name) + " has more than 16 pieces";
    }
    int waiting = board.side ^ 1;
    if (square_attacked(board, lowest_square(board.pieces[make_piece(KING, waiting)]), board.side))
        return "the side not to move is in check";
    return "";
}

// ---- Printing ----------------------------------------------------------------

// A castling king "takes" its rook in Chess960, as in the move text.
static void print_to_square(const Position& pos, Move m) {
    int to = move_text_to(pos, m);
    if (m & (MOVE_CAPTURE | MOVE_EN_PASSANT))
        log_print("x%c%c%s", 'a' + file_of(to), '1' + rank_of(to), (m & MOVE_EN_PASSANT) ? " ep" : "");
    else
        log_print("%c%c ", 'a' + file_of(to), '1' + rank_of(to));
}

void print_move(const Position& pos, Move m) {
    int from = move_from(m);
    log_print(" %c", PIECE_LETTERS[move_piece(m)]);
    log_print("%c%c", 'a' + file_of(from), '1' + rank_of(from));
    print_to_square(pos, m);
}

void print_move_list(const Position& pos, const PlyRecord* rec) {
    log_print("\n");
    for (int i = 0; i < rec->move_count; i++) {
        Move m = rec->moves[i];
        int from = move_from(m);
        log_print("%3i >> %c%c%c", i + 1, PIECE_LETTERS[move_piece(m)], 'a' + file_of(from), '1' + rank_of(from));
        print_to_square(pos, m);
        log_print("\n");
    }
    log_print("\n");
}
