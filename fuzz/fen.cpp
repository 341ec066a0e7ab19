// The FEN reader and the move-list applier, as "position fen <FEN> moves
// <moves>" uses them: the input's first line is the FEN, the rest the move
// list, read once as standard chess and once as Chess960. Every accepted
// position (and the one the moves lead to) must be consistent with both keys
// right, must count its legal moves alike from attack sets (perft's last ply)
// and by making them, must make and unmake each legal move back to exactly
// the same board and records, and must read back from its own FEN with the
// same key.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "board.h"
#include "movegen.h"
#include "uci.h"

static void fail(const char* what, const std::string& fen) {
    fprintf(stderr, "%s (position %s)\n", what, fen.c_str());
    abort();
}

static bool same_board(const BoardState& a, const BoardState& b) {
    return !memcmp(a.pieces, b.pieces, sizeof a.pieces) && !memcmp(a.occupancy, b.occupancy, sizeof a.occupancy) &&
           a.side == b.side && !memcmp(a.mailbox, b.mailbox, sizeof a.mailbox) &&
           !memcmp(a.material, b.material, sizeof a.material);
}

static bool same_counters(const SearchInfo& a, const SearchInfo& b) {
    return a.ply == b.ply && a.irreversible_index == b.irreversible_index && a.halfmove_clock == b.halfmove_clock &&
           a.history_count == b.history_count;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) return 1;
    init_engine_tables();
    return 0;
}

static void check(const std::string& fen, const std::string& moves, bool chess960) {
    static Position* position = new_position();
    Position& pos = *position;
    PlyRecord* root = root_record(pos);
    clear_move_counters(pos);
    pos.chess960 = chess960;
    // Refused: the engine sets up the start position instead.
    if (!parse_fen(pos, fen.c_str(), root).empty() || !position_problem(pos.board).empty()) return;
    update_check_info(pos, root);
    if (!board_is_consistent(pos, root)) fail("inconsistent after the FEN", fen);
    apply_move_list(pos, moves.c_str(), root);
    update_check_info(pos, root);
    std::string reached = position_to_fen(pos, root);
    if (!board_is_consistent(pos, root)) fail("inconsistent after the moves", reached);

    int counted = count_legal_moves_fast(pos, root);
    int legal = generate_legal_moves(pos, root);
    if (counted != legal) fail("the leaf count differs from the legal moves", reached);
    for (int i = 0; i < legal; i++) {
        BoardState board_before = pos.board;
        PlyRecord record_before = *root;
        SearchInfo counters_before = pos.info;
        U64 history_key = pos.history[pos.info.history_count].key;
        if (!make_move(pos, i, root, root->next)) fail("a legal move was refused", reached);
        if (!board_is_consistent(pos, root->next)) fail("inconsistent after a move", reached);
        unmake_move(pos, i, root);
        if (!same_board(pos.board, board_before)) fail("unmake left another board", reached);
        if (root->key != record_before.key || root->base_key != record_before.base_key ||
            root->pawn_key != record_before.pawn_key ||
            root->castling != record_before.castling || root->ep_square != record_before.ep_square)
            fail("unmake left another key or record", reached);
        if (!same_counters(pos.info, counters_before) || pos.history[pos.info.history_count].key != history_key)
            fail("unmake left other counters", reached);
    }

    // The FEN written for the position reads back as the same position.
    U64 key = root->key;
    parse_fen(pos, reached.c_str(), root);
    update_check_info(pos, root);
    if (root->key != key || position_to_fen(pos, root) != reached) fail("FEN does not read back", reached);
    if (!board_is_consistent(pos, root)) fail("inconsistent after reading back", reached);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t nl = text.find('\n');
    std::string fen = text.substr(0, nl), moves = nl == std::string::npos ? "" : text.substr(nl + 1);
    check(fen, moves, false);
    check(fen, moves, true);
    return 0;
}
