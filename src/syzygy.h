// Syzygy endgame tablebases, probed through the Fathom library when the build
// has it (BRIK_SYZYGY). Loading checks every table file before the library
// sees it; the search probes win/draw/loss tables, the root ranks its moves.
// The loaded tables are shared by all threads and replaced only between
// searches.
#pragma once

#include <string>
#include <vector>

#include "board.h"

// Win/draw/loss from the side to move's view. A cursed win is a win the
// fifty-move rule turns into a draw, a blessed loss the loss it saves.
enum SyzygyWdl : int { WDL_LOSS = -2, WDL_BLESSED_LOSS = -1, WDL_DRAW = 0, WDL_CURSED_WIN = 1, WDL_WIN = 2 };
constexpr int WDL_NONE = -3;  // not in the tables, or the probe failed

constexpr int SYZYGY_MAX_MEN = 7;

// True when this build can probe tables at all.
bool syzygy_available();

// Replaces the loaded tables by those in `path` (folders joined by ':', ';'
// on Windows; empty or "<empty>" unloads them). Returns the lines to tell
// the user: what was found, each file refused and why. Only between searches.
std::vector<std::string> syzygy_load(const std::string& path);
// Men in the largest loaded table (0: none loaded).
int syzygy_largest();
// True when distance-to-zero tables were loaded too.
bool syzygy_has_dtz();

// Why a table file cannot be used ("" when it can): not a regular file, a
// size or magic number that no table has, or a header that describes
// another size than the file's. `name` is the file name, e.g. "KQvKR.rtbw".
std::string syzygy_check_file(const std::string& path, const std::string& name);
// Men of a table named like "KQvKR.rtbw" or "KPvK.rtbz"; 0 for any other name.
int syzygy_table_men(const std::string& name);

// Men on the board.
int syzygy_men(const BoardState& board);
// The table's result for the position of `rec`, which must have no castling
// rights and a fifty-move counter of zero (WDL_NONE otherwise). Safe to call
// from several threads at once.
int syzygy_probe_wdl(const Position& pos, const PlyRecord* rec);

// The root moves that keep the tables' best result, ranked by distance to
// zero when those tables are loaded, else by win/draw/loss. `rule50`: cursed
// wins and blessed losses count as draws.
struct SyzygyRoot {
    bool found;         // the root is in the tables and every move was probed
    int wdl;            // the root's result (SyzygyWdl)
    int kept_count;
    Move kept[MAX_MOVES];
};
// Not thread-safe: once per search, before the helpers start. The root
// record must hold its legal moves.
SyzygyRoot syzygy_probe_root(const Position& pos, const PlyRecord* root, bool rule50);
