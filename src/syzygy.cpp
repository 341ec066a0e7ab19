#include "syzygy.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "attacks.h"
#include "movegen.h"
#include "platform.h"

#ifdef BRIK_SYZYGY
#include <tbprobe.h>
#endif

namespace fs = std::filesystem;

// ---- Constants -----------------------------------------------------------------------

constexpr uint32_t WDL_MAGIC = 0x5d23e871;   // bytes 71 e8 23 5d, read little-endian
constexpr uint32_t DTZ_MAGIC = 0xa50c66d7;   // bytes d7 66 0c a5
// A table's data blocks start and end on a multiple of 64 bytes; a 16-byte checksum follows.
constexpr uint64_t FILE_ALIGNMENT = 64;
constexpr uint64_t FILE_TAIL = 16;
// The header (piece orders, symbol tables, value maps) lies in the first bytes:
// read FIRST_HEADER_BYTES, four times more while it runs past them, and a
// table whose header runs past MAX_HEADER_BYTES is refused.
constexpr size_t FIRST_HEADER_BYTES = 1u << 16;
constexpr size_t MAX_HEADER_BYTES = 1u << 22;
// The index and block-size tables after the header are checked against each
// other when they take at most this many bytes; larger tables get the size
// check alone, so that loading stays quick.
constexpr uint64_t STREAM_TABLES_CHECK_BYTES = 16u << 20;
// Piece codes in a header: 1-6 white pawn..king, 9-14 black.
constexpr int CODE_COLOUR_BIT = 8;
// Placements of the first three unique men (kings among them) under the
// board's symmetries, and of the two kings alone.
constexpr uint64_t THREE_UNIQUE_PLACEMENTS = 31332;
constexpr uint64_t TWO_KINGS_PLACEMENTS = 462;
#ifdef BRIK_SYZYGY  // loading and probing: with the library only
// The library's ranks of root moves: a win safely within the fifty-move rule
// ranks RANK_SCALE, a sure loss -RANK_SCALE; a win or loss that the rule
// may cut short ranks within RANK_RULE50_MARGIN of zero.
constexpr int RANK_SCALE = 1000;
constexpr int RANK_RULE50_MARGIN = 100;
#ifdef _WIN32
constexpr char PATH_SEPARATOR = ';';
#else
constexpr char PATH_SEPARATOR = ':';
#endif
constexpr const char* PRIVATE_FOLDER_PREFIX = "brik-syzygy-";
constexpr int PRIVATE_FOLDER_TRIES = 100;
#endif

// ---- Table names -------------------------------------------------------------------

// Men of each kind per side of a name: [0] left of the 'v' (white in the
// table's own colouring), [1] right; kinds PAWN..KING.
struct TableMaterial {
    int men;
    int count[2][6];
};

static int kind_of_letter(char c) {
    switch (c) {
    case 'P': return PAWN;
    case 'N': return KNIGHT;
    case 'B': return BISHOP;
    case 'R': return ROOK;
    case 'Q': return QUEEN;
    case 'K': return KING;
    default: return -1;
    }
}

// False for any name but "K...vK...", then ".rtbw" or ".rtbz": one king a side, first.
static bool parse_table_name(const std::string& name, TableMaterial& m, bool& dtz) {
    memset(&m, 0, sizeof m);
    size_t dot = name.size() >= 5 ? name.size() - 5 : std::string::npos;
    if (dot == std::string::npos || (name.compare(dot, 5, ".rtbw") != 0 && name.compare(dot, 5, ".rtbz") != 0))
        return false;
    dtz = name[dot + 4] == 'z';
    int side = 0;
    for (size_t i = 0; i < dot; i++) {
        if (name[i] == 'v' && side == 0) {
            side = 1;
            continue;
        }
        int kind = kind_of_letter(name[i]);
        bool side_start = i == 0 || name[i - 1] == 'v';
        if (kind < 0 || (kind == KING) != side_start) return false;
        m.count[side][kind]++;
        m.men++;
    }
    return side == 1 && m.count[0][KING] == 1 && m.count[1][KING] == 1 && m.men <= SYZYGY_MAX_MEN;
}

int syzygy_table_men(const std::string& name) {
    TableMaterial m;
    bool dtz;
    return parse_table_name(name, m, dtz) ? m.men : 0;
}

// ---- The layout of a table file --------------------------------------------------------
// A table stores one or two sides to move (piece tables) or four pawn files
// of them (pawn tables). Each part has an index size fixed by its material
// and piece order, and a compressed stream: a symbol table in the header,
// then an index table, a block-size table and 64-byte aligned data blocks.
// Adding these up from the header gives the size of a whole file, so a cut,
// padded or garbled file shows as a size the header does not describe.

static uint64_t binomial(int n, int k) {
    if (k < 0 || k > n) return 0;
    uint64_t r = 1;
    for (int i = 1; i <= k; i++) r = r * uint64_t(n - k + i) / uint64_t(i);
    return r;
}

// Pawn squares in the order the index places them: files a-d take the odd
// numbers, e-h the even ones, so a leading pawn on a-d comes first.
static const int PAWN_ORDER[64] = {
    0,  0,  0,  0,  0,  0,  0,  0,
    47, 35, 23, 11, 10, 22, 34, 46,
    45, 33, 21, 9,  8,  20, 32, 44,
    43, 31, 19, 7,  6,  18, 30, 42,
    41, 29, 17, 5,  4,  16, 28, 40,
    39, 27, 15, 3,  2,  14, 26, 38,
    37, 25, 13, 1,  0,  12, 24, 36,
    0,  0,  0,  0,  0,  0,  0,  0,
};

// Placements of `count` leading pawns whose first one stands on file `file` (a-d).
static uint64_t leading_pawn_placements(int count, int file) {
    uint64_t total = 0;
    for (int rank = 1; rank <= 6; rank++) total += binomial(PAWN_ORDER[rank * 8 + file], count - 1);
    return total;
}

// Bounds-checked reading of the header bytes.
struct HeaderReader {
    const unsigned char* bytes;
    size_t length;
    uint64_t at;
    bool overrun;

    unsigned byte(uint64_t offset) {
        if (offset >= length) {
            overrun = true;
            return 0;
        }
        return bytes[offset];
    }
    unsigned word16(uint64_t offset) { return byte(offset) | byte(offset + 1) << 8; }
    uint32_t word32(uint64_t offset) { return word16(offset) | uint32_t(word16(offset + 2)) << 16; }
    void align(uint64_t to) { at = (at + to - 1) / to * to; }
};

// One compressed stream: its header part is read at r.at (which moves past
// it); the sizes of its index table, block-size table and data blocks, and
// what a check of those two tables needs.
struct StreamSizes {
    uint64_t index, block_sizes, data;
    uint64_t positions;     // values the stream holds (its index size)
    unsigned index_bits;    // an index entry every 2^index_bits values
    uint64_t real_blocks;   // blocks holding values; block_sizes / 2 counts the spare ones too
    uint64_t index_at, block_sizes_at;  // file offsets of the two tables
};

static bool read_stream(HeaderReader& r, uint64_t index_size, StreamSizes& s, unsigned& flags) {
    flags = r.byte(r.at);
    if (flags & 0x80) {  // one value for the whole table: no stream
        r.at += 2;
        s = StreamSizes{};
        return !r.overrun;
    }
    unsigned block_bits = r.byte(r.at + 1);
    unsigned index_bits = r.byte(r.at + 2);
    uint64_t spare_blocks = r.byte(r.at + 3);
    uint64_t real_blocks = r.word32(r.at + 4);
    int max_len = int(r.byte(r.at + 8));
    int min_len = int(r.byte(r.at + 9));
    if (r.overrun || block_bits > 32 || index_bits > 63 || max_len < min_len) return false;
    if (real_blocks > (~uint64_t(0) >> 32 >> block_bits)) return false;  // sizes beyond any disk
    int lengths = max_len - min_len + 1;
    uint64_t symbols = r.word16(r.at + 10 + 2 * uint64_t(lengths));
    r.at += 12 + 2 * uint64_t(lengths) + 3 * symbols + (symbols & 1);
    uint64_t indices = (index_size + (uint64_t(1) << index_bits) - 1) >> index_bits;
    s.index = 6 * indices;
    s.block_sizes = 2 * (real_blocks + spare_blocks);
    s.data = (uint64_t(1) << block_bits) * real_blocks;
    s.positions = index_size;
    s.index_bits = index_bits;
    s.real_blocks = real_blocks;
    return !r.overrun && index_bits > 0;
}

// Runs of identical men after the first group, as the index groups them.
static uint64_t group_placements(const int* codes, int men, int first, int free_squares) {
    uint64_t f = 1;
    for (int i = first; i < men;) {
        int run = 1;
        while (i + run < men && codes[i + run] == codes[i]) run++;
        f *= binomial(free_squares, run);
        free_squares -= run;
        i += run;
    }
    return f;
}

// Index size of a piece table for the men in header order.
static uint64_t piece_index_size(const int* codes, int men, int unique) {
    int first = unique >= 3 ? 3 : 2;
    uint64_t pivot = unique >= 3 ? THREE_UNIQUE_PLACEMENTS : TWO_KINGS_PLACEMENTS;
    return pivot * group_placements(codes, men, first, 64 - first);
}

// Index size of a pawn table's part for leading pawns on `file`: the leading
// pawns, the other side's pawns (if any), then the pieces.
static uint64_t pawn_index_size(const int* codes, int men, int leading, int others, int file) {
    uint64_t f = leading_pawn_placements(leading, file);
    if (others) f *= binomial(48 - leading, others);
    return f * group_placements(codes, men, leading + others, 64 - leading - others);
}

// Whether the header's men (low or high nibbles) are the name's, in either colouring.
static bool codes_match(const int* codes, int men, const TableMaterial& m) {
    int seen[2][6] = {};
    for (int i = 0; i < men; i++) {
        int kind = (codes[i] & 7) - 1, colour = (codes[i] & CODE_COLOUR_BIT) ? 1 : 0;
        if (kind < PAWN || kind > KING || (codes[i] & ~(CODE_COLOUR_BIT | 7))) return false;
        seen[colour][kind]++;
    }
    return memcmp(seen, m.count, sizeof seen) == 0 ||
           (memcmp(seen[0], m.count[1], sizeof seen[0]) == 0 && memcmp(seen[1], m.count[0], sizeof seen[1]) == 0);
}

// The file size the layout read at `r` describes; 0 when it is not sound.
// The streams with index and block-size tables go to `tables`.
static uint64_t layout_size(HeaderReader& r, const TableMaterial& m, bool dtz, std::vector<StreamSizes>& tables) {
    const unsigned layout = r.byte(4);
    const bool pawns = m.count[0][PAWN] + m.count[1][PAWN] > 0;
    if (((layout & 2) != 0) != pawns) return 0;
    const int men = m.men;
    const int sides = !dtz && (layout & 1) ? 2 : 1;
    const int files = pawns ? 4 : 1;
    // The leading pawns are the side with fewer pawns, if it has any.
    int leading = m.count[0][PAWN], others = m.count[1][PAWN];
    if (others > 0 && (leading == 0 || others < leading)) std::swap(leading, others);
    const int order_bytes = pawns && others ? 2 : 1;
    int unique = 0;
    for (int side = 0; side < 2; side++)
        for (int kind = PAWN; kind <= KING; kind++) unique += m.count[side][kind] == 1;

    uint64_t index_size[4][2] = {};
    r.at = 5;
    for (int f = 0; f < files; f++) {
        for (int side = 0; side < sides; side++) {
            int codes[SYZYGY_MAX_MEN];
            for (int i = 0; i < men; i++) {
                unsigned b = r.byte(r.at + uint64_t(order_bytes + i));
                codes[i] = int(side ? b >> 4 : b & 15);
            }
            if (r.overrun || !codes_match(codes, men, m)) return 0;
            index_size[f][side] = pawns ? pawn_index_size(codes, men, leading, others, f)
                                        : piece_index_size(codes, men, unique);
        }
        r.at += uint64_t(order_bytes + men);
    }
    r.align(2);

    StreamSizes streams[4][2];
    unsigned flags[4][2];
    for (int f = 0; f < files; f++)
        for (int side = 0; side < sides; side++)
            if (!read_stream(r, index_size[f][side], streams[f][side], flags[f][side])) return 0;
    if (dtz) {
        // Maps from stored values to distances, four per part that has them.
        for (int f = 0; f < files; f++) {
            if (!(flags[f][0] & 2)) continue;
            if (flags[f][0] & 16) {  // two-byte values
                r.align(2);
                for (int i = 0; i < 4; i++) r.at += 2 + 2 * uint64_t(r.word16(r.at));
            } else {
                for (int i = 0; i < 4; i++) r.at += 1 + uint64_t(r.byte(r.at));
            }
        }
        r.align(2);
    }
    if (r.overrun) return 0;
    uint64_t end = r.at;
    for (int f = 0; f < files; f++)
        for (int side = 0; side < sides; side++) {
            streams[f][side].index_at = end;
            end += streams[f][side].index;
        }
    for (int f = 0; f < files; f++)
        for (int side = 0; side < sides; side++) {
            streams[f][side].block_sizes_at = end;
            end += streams[f][side].block_sizes;
            if (streams[f][side].index) tables.push_back(streams[f][side]);
        }
    for (int f = 0; f < files; f++)
        for (int side = 0; side < sides; side++) {
            end = (end + FILE_ALIGNMENT - 1) / FILE_ALIGNMENT * FILE_ALIGNMENT;
            end += streams[f][side].data;
        }
    return (end + FILE_ALIGNMENT - 1) / FILE_ALIGNMENT * FILE_ALIGNMENT + FILE_TAIL;
}

// The file size the header describes; 0 when the header itself is not sound
// or (`overrun`) runs past the bytes given.
static uint64_t described_size(const unsigned char* bytes, size_t length, const TableMaterial& m, bool dtz,
                               bool& overrun, std::vector<StreamSizes>& tables) {
    HeaderReader r{bytes, length, 0, false};
    tables.clear();
    uint64_t size = layout_size(r, m, dtz, tables);
    overrun = r.overrun;
    return overrun ? 0 : size;
}

// Whether a stream's block-size and index tables (in `bytes`, which start at
// file offset `base`) agree with it: block b holds sizes[b] + 1 values, the
// real blocks hold all the stream's values, and index entry i names the block
// and offset of value (i << index_bits) + 2^(index_bits - 1). The library
// walks from an entry's block to the value it wants, so tables that agree
// keep it inside the stream.
static bool stream_tables_agree(const std::vector<unsigned char>& bytes, uint64_t base, const StreamSizes& s) {
    HeaderReader r{bytes.data(), bytes.size(), 0, false};
    const uint64_t blocks = s.block_sizes / 2;
    std::vector<uint64_t> first_value(blocks + 1, 0);  // values before block b
    for (uint64_t b = 0; b < blocks; b++)
        first_value[b + 1] = first_value[b] + r.word16(s.block_sizes_at - base + 2 * b) + 1;
    if (r.overrun || first_value[s.real_blocks] != s.positions) return false;
    for (uint64_t i = 0; i < s.index / 6; i++) {
        uint64_t entry = s.index_at - base + 6 * i;
        uint64_t block = r.word32(entry), offset = r.word16(entry + 4);
        if (r.overrun || block > blocks) return false;
        if (first_value[block] + offset != (i << s.index_bits) + (uint64_t(1) << (s.index_bits - 1))) return false;
    }
    return true;
}

std::string syzygy_check_file(const std::string& path, const std::string& name) {
    TableMaterial m;
    bool dtz;
    if (!parse_table_name(name, m, dtz)) return "not a table name";
    std::error_code error;
    fs::file_status status = fs::status(path, error);
    if (error || !fs::is_regular_file(status)) return "not a regular file";
    uint64_t size = fs::file_size(path, error);
    if (error) return "cannot read its size";
    if (size % FILE_ALIGNMENT != FILE_TAIL) return "size " + std::to_string(size) + " is no table's";
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return "cannot be opened";
    const size_t most = size_t(size < MAX_HEADER_BYTES ? size : MAX_HEADER_BYTES);
    std::vector<unsigned char> header;
    std::vector<StreamSizes> streams;
    uint64_t described = 0;
    bool overrun = true;
    for (size_t want = FIRST_HEADER_BYTES < most ? FIRST_HEADER_BYTES : most; overrun;
         want = want * 4 < most ? want * 4 : most) {
        size_t had = header.size();
        header.resize(want);
        if (fread(header.data() + had, 1, want - had, file) != want - had) {
            fclose(file);
            return "cannot be read";
        }
        uint32_t magic = uint32_t(header[0]) | uint32_t(header[1]) << 8 | uint32_t(header[2]) << 16 |
                         uint32_t(header[3]) << 24;
        if (magic != (dtz ? DTZ_MAGIC : WDL_MAGIC)) {
            fclose(file);
            return "wrong magic number";
        }
        described = described_size(header.data(), header.size(), m, dtz, overrun, streams);
        if (want == most) break;
    }
    if (!described || described != size) {
        fclose(file);
        if (!described) return "damaged header";
        return "size " + std::to_string(size) + " where its header describes " + std::to_string(described) +
               " (cut short or damaged)";
    }
    // The index and block-size tables lie together after the header.
    std::string problem;
    if (!streams.empty()) {
        uint64_t from = streams.front().index_at;
        uint64_t to = streams.back().block_sizes_at + streams.back().block_sizes;
        if (to - from <= STREAM_TABLES_CHECK_BYTES) {
            std::vector<unsigned char> tables(size_t(to - from));
            if (fseek(file, long(from), SEEK_SET) != 0 || fread(tables.data(), 1, tables.size(), file) != tables.size())
                problem = "cannot be read";
            for (const StreamSizes& stream : streams)
                if (problem.empty() && !stream_tables_agree(tables, from, stream))
                    problem = "index or block-size table damaged";
        }
    }
    fclose(file);
    return problem;
}

// ---- Loading ---------------------------------------------------------------------------
// The library maps whatever files carry a table's name and trusts them, so it
// is handed a private folder of links to the files that passed the check
// above, never the user's folders. The folder lives as long as its tables
// (the library opens files on first use) and is removed when they are
// replaced and at exit.

static int largest_men = 0;
static bool dtz_loaded = false;

bool syzygy_available() {
#ifdef BRIK_SYZYGY
    return true;
#else
    return false;
#endif
}

int syzygy_largest() { return largest_men; }
bool syzygy_has_dtz() { return dtz_loaded; }

#ifdef BRIK_SYZYGY

static std::string private_folder;

static void remove_private_folder(const std::string& folder) {
    if (folder.empty()) return;
    std::error_code error;
    fs::remove_all(folder, error);
}

static void remove_folder_at_exit() { remove_private_folder(private_folder); }

// Removes the folders that engines which ended without their exit handlers
// (killed by a GUI, say) left in `base`.
static void remove_abandoned_folders(const fs::path& base) {
    std::error_code error;
    const std::string prefix = PRIVATE_FOLDER_PREFIX;
    for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        long owner = strtol(name.c_str() + prefix.size(), nullptr, 10);
        std::error_code ignored;
        if (owner > 0 && owner != process_id() && !process_running(owner)) fs::remove_all(it->path(), ignored);
    }
}

// A new, empty folder of this process's own in the temporary directory ("" when none can be made).
static std::string make_private_folder() {
    static unsigned serial = 0;
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) return "";
    if (serial == 0) remove_abandoned_folders(base);
    for (int i = 0; i < PRIVATE_FOLDER_TRIES; i++) {
        fs::path folder = base / (std::string(PRIVATE_FOLDER_PREFIX) + std::to_string(process_id()) + "-" +
                                  std::to_string(serial++));
        if (fs::create_directory(folder, error) && !error) return folder.string();
    }
    return "";
}

static std::vector<std::string> split_path(const std::string& path) {
    std::vector<std::string> folders;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(PATH_SEPARATOR, start);
        std::string folder = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!folder.empty()) folders.push_back(folder);
        if (end == std::string::npos) return folders;
        start = end + 1;
    }
}

struct TableFile {
    std::string name;
    std::string path;
};

// The table files of one folder, by name; a problem with the folder itself goes to `lines`.
static std::vector<TableFile> tables_in_folder(const std::string& folder, std::vector<std::string>& lines) {
    std::vector<TableFile> found;
    std::error_code error;
    fs::file_status status = fs::status(folder, error);
    if (status.type() == fs::file_type::not_found) {
        lines.push_back("Syzygy: folder " + folder + " not found");
        return found;
    }
    if (error) {
        lines.push_back("Syzygy: cannot read folder " + folder + " (" + error.message() + ")");
        return found;
    }
    if (!fs::is_directory(status)) {
        lines.push_back("Syzygy: " + folder + " is not a folder");
        return found;
    }
    fs::directory_iterator it(folder, error), end;
    if (error) {
        lines.push_back("Syzygy: cannot read folder " + folder + " (" + error.message() + ")");
        return found;
    }
    for (; it != end; it.increment(error)) {
        if (error) {
            lines.push_back("Syzygy: cannot read folder " + folder + " (" + error.message() + ")");
            break;
        }
        std::string name = it->path().filename().string();
        if (syzygy_table_men(name)) found.push_back({name, it->path().string()});
    }
    std::sort(found.begin(), found.end(), [](const TableFile& a, const TableFile& b) { return a.name < b.name; });
    if (found.empty() && !error) lines.push_back("Syzygy: no tables in folder " + folder);
    return found;
}

// Points the library at `folder` (every table file in it already checked).
// An empty folder unloads: the library must never be given an empty path,
// which frees its tables but leaves their size in place for the next probe.
// It reports each file it lets go of on standard error; that is not news.
static void library_init(const std::string& folder) {
    stderr_mute(true);
    tb_init(folder.c_str());
    stderr_mute(false);
}

std::vector<std::string> syzygy_load(const std::string& path) {
    std::vector<std::string> lines;
    const bool clear = path.empty() || path == "<empty>";
    std::vector<TableFile> accepted;
    if (!clear) {
        std::vector<std::string> taken;  // the first folder with a name wins
        for (const std::string& folder : split_path(path)) {
            for (const TableFile& table : tables_in_folder(folder, lines)) {
                if (std::find(taken.begin(), taken.end(), table.name) != taken.end()) continue;
                std::string problem = syzygy_check_file(table.path, table.name);
                if (!problem.empty()) {
                    lines.push_back("Syzygy: refused " + table.path + ": " + problem);
                    continue;
                }
                taken.push_back(table.name);
                accepted.push_back(table);
            }
        }
    }
    if (clear && !largest_men) return lines;

    std::string folder = make_private_folder();
    if (folder.empty() && !accepted.empty()) {
        lines.push_back("Syzygy: no temporary folder could be made: no tables loaded");
        accepted.clear();
    }
    int wdl_count = 0, dtz_count = 0;
    for (const TableFile& table : accepted) {
        std::error_code error;
        fs::path target = fs::absolute(table.path, error);
        if (!error) fs::create_symlink(target, fs::path(folder) / table.name, error);
        if (error) {
            lines.push_back("Syzygy: cannot link " + table.path + " (" + error.message() + ")");
            continue;
        }
        (table.name.back() == 'z' ? dtz_count : wdl_count)++;
    }
    remove_private_folder(private_folder);
    // Without a new folder the old one, now gone, unloads just as well.
    if (!folder.empty() || !private_folder.empty()) library_init(folder.empty() ? private_folder : folder);
    private_folder = folder;
    static bool cleanup_registered = false;
    if (!cleanup_registered) cleanup_registered = std::atexit(remove_folder_at_exit) == 0;

    largest_men = wdl_count ? int(TB_LARGEST) : 0;
    dtz_loaded = largest_men && dtz_count;
    if (clear) lines.push_back("Syzygy: tables unloaded");
    else if (!largest_men) lines.push_back("Syzygy: no tables loaded");
    else
        lines.push_back("Syzygy: " + std::to_string(wdl_count + dtz_count) + " tables loaded (" +
                        std::to_string(wdl_count) + " win/draw/loss, " + std::to_string(dtz_count) +
                        " distance-to-zero), largest " + std::to_string(largest_men) + " men");
    return lines;
}

// ---- Probing ---------------------------------------------------------------------------

int syzygy_men(const BoardState& board) { return popcount(board.occupancy[WHITE] | board.occupancy[BLACK]); }

int syzygy_probe_wdl(const Position& pos, const PlyRecord* rec) {
    const BoardState& b = pos.board;
    if (!largest_men || rec->castling || pos.info.halfmove_clock || syzygy_men(b) > largest_men) return WDL_NONE;
    const U64* p = b.pieces;
    unsigned result = tb_probe_wdl(b.occupancy[WHITE], b.occupancy[BLACK], p[W_KING] | p[B_KING],
                                   p[W_QUEEN] | p[B_QUEEN], p[W_ROOK] | p[B_ROOK], p[W_BISHOP] | p[B_BISHOP],
                                   p[W_KNIGHT] | p[B_KNIGHT], p[W_PAWN] | p[B_PAWN], 0, 0, unsigned(rec->ep_square),
                                   b.side == WHITE);
    return result == TB_RESULT_FAILED ? WDL_NONE : int(result) - TB_DRAW;
}

// The library's move as the legal move of the root record (0: none matches).
static Move root_move(const PlyRecord* root, TbMove move) {
    static const int PROMOTION_KIND[] = {-1, QUEEN, ROOK, BISHOP, KNIGHT};
    const int from = TB_MOVE_FROM(move), to = TB_MOVE_TO(move), promotes = TB_MOVE_PROMOTES(move);
    for (int i = 0; i < root->move_count; i++) {
        Move m = root->moves[i];
        if (move_from(m) != from || move_to(m) != to) continue;
        if (!promotes && !(m & MOVE_PROMOTION)) return m;
        if (promotes >= 1 && promotes <= 4 && (m & MOVE_PROMOTION) && move_promotion_kind(m) == PROMOTION_KIND[promotes])
            return m;
    }
    return 0;
}

SyzygyRoot syzygy_probe_root(const Position& pos, const PlyRecord* root, bool rule50) {
    SyzygyRoot r;
    r.found = false;
    r.wdl = WDL_NONE;
    r.kept_count = 0;
    if (!largest_men || root->castling || syzygy_men(pos.board) > largest_men || root->move_count == 0) return r;
    // Big (every legal move with its predicted line), and only the main thread comes here.
    static TbRootMoves ranked;
    const BoardState& b = pos.board;
    const U64* p = b.pieces;
    const U64 white = b.occupancy[WHITE], black = b.occupancy[BLACK], kings = p[W_KING] | p[B_KING],
              queens = p[W_QUEEN] | p[B_QUEEN], rooks = p[W_ROOK] | p[B_ROOK], bishops = p[W_BISHOP] | p[B_BISHOP],
              knights = p[W_KNIGHT] | p[B_KNIGHT], pawns = p[W_PAWN] | p[B_PAWN];
    const unsigned rule50_count = unsigned(pos.info.halfmove_clock), ep = unsigned(root->ep_square);
    const bool turn = b.side == WHITE;
    int ok = 0;
    if (dtz_loaded)
        ok = tb_probe_root_dtz(white, black, kings, queens, rooks, bishops, knights, pawns, rule50_count, 0, ep, turn,
                               is_repetition(pos, root) != 0, rule50, &ranked);
    if (!ok)
        ok = tb_probe_root_wdl(white, black, kings, queens, rooks, bishops, knights, pawns, rule50_count, 0, ep, turn,
                               rule50, &ranked);
    if (!ok || ranked.size == 0) return r;

    // The best rank among the root's moves (searchmoves may have left out some).
    int best = -2 * RANK_SCALE;
    Move moves[TB_MAX_MOVES];
    for (unsigned i = 0; i < ranked.size; i++) {
        moves[i] = root_move(root, ranked.moves[i].move);
        if (moves[i] && ranked.moves[i].tbRank > best) best = ranked.moves[i].tbRank;
    }
    if (best == -2 * RANK_SCALE) return r;
    for (unsigned i = 0; i < ranked.size; i++)
        if (moves[i] && ranked.moves[i].tbRank == best) r.kept[r.kept_count++] = moves[i];
    const int bound = rule50 ? RANK_SCALE - RANK_RULE50_MARGIN : 1;
    r.wdl = best >= bound ? WDL_WIN : best > 0 ? WDL_CURSED_WIN : best == 0 ? WDL_DRAW : best > -bound ? WDL_BLESSED_LOSS
                                                                                                       : WDL_LOSS;
    r.found = true;
    return r;
}

#else  // no library: the options exist, the tables do not

std::vector<std::string> syzygy_load(const std::string& path) {
    if (path.empty() || path == "<empty>") return {};
    return {"Syzygy tablebases are not available in this build (it has no Fathom library): SyzygyPath ignored"};
}

int syzygy_men(const BoardState& board) { return popcount(board.occupancy[WHITE] | board.occupancy[BLACK]); }

int syzygy_probe_wdl(const Position&, const PlyRecord*) { return WDL_NONE; }

SyzygyRoot syzygy_probe_root(const Position&, const PlyRecord*, bool) {
    SyzygyRoot r;
    r.found = false;
    r.wdl = WDL_NONE;
    r.kept_count = 0;
    return r;
}

#endif
