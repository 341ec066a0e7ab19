// The only OS-specific code (POSIX and Windows): buffered line input that can
// be polled without blocking, a blocking wait for input while idle, a
// millisecond monotonic clock and the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Longest input line accepted; a longer one is skipped whole.
constexpr size_t MAX_LINE_LENGTH = 4u << 20;

enum class LineStatus { Line, TooLong, EndOfInput };

// True when a whole line (or the end of input) is waiting: never blocks.
bool input_available();
// Blocks until input_available() would say yes.
void wait_for_input();
// Takes the next line, without its line end (and without a trailing CR).
// Blocks when no whole line is waiting yet.
LineStatus read_line(std::string& line);

// Milliseconds of monotonic wall time.
int64_t now_ms();

// This process's id (names its private temporary files), and whether the
// process of an id is still running.
long process_id();
bool process_running(long id);

// MinGW builds take the C99 printf (%lld, %zu), which the compiler checks
// under its own name.
#ifdef __MINGW32__
#define BRIK_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define BRIK_PRINTF_FORMAT printf
#endif

// Every line the engine prints goes through here: formatted into a bounded
// buffer (an over-long message is cut, never overflowed) and flushed at once
// so that a reader on a pipe sees it immediately.
void log_print(const char* format, ...) __attribute__((format(BRIK_PRINTF_FORMAT, 1, 2)));
// While muted, log_print prints nothing (the benchmark's searches).
void log_mute(bool muted);
// While muted, whatever a library writes to standard error goes nowhere.
void stderr_mute(bool muted);

// Memory for large tables, page-aligned and zero-filled by the system: pages
// nobody has touched cost nothing, so a fresh table is free at start. False
// (null) when the system refuses.
void* allocate_zeroed(size_t bytes);
void free_zeroed(void* memory, size_t bytes);
// Zeros such memory again, handing the pages back where the system allows it.
void clear_zeroed(void* memory, size_t bytes);
// Asks for huge pages behind a 2 MB-aligned table not yet touched (Linux;
// elsewhere nothing happens). Fewer page faults to fill it, fewer
// address-translation misses to read it.
void advise_huge_pages(void* memory, size_t bytes);

// Replaces the file at `path` by `data` so that a reader sees the old file or
// the whole new one, never a part: the bytes go to a temporary file of a name
// unique to this process in the same directory, reach the disk, and are renamed
// into place. False when any step fails; no temporary file is left then. (On
// Windows a file held open by another process cannot be replaced: when the
// rename fails and a file is already in place, it counts as done.)
bool write_file_atomically(const char* path, const std::string& data);
