#include "platform.h"

#include <cstdarg>
#include <cstdio>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#endif

// Bytes asked for by one read of standard input (a Windows console refuses
// much larger requests).
constexpr size_t READ_CHUNK_BYTES = 16384;

// ---- Standard input, the system side ---------------------------------------------
// read_input blocks until it has some bytes (0: end of input or an error);
// input_ready says, without blocking, whether read_input would return at once.

#ifdef _WIN32

// Bytes the reader thread may hold before it waits for the engine to take some.
constexpr size_t READER_QUEUE_LIMIT_BYTES = 1u << 20;

// Pipe: peeked. Console: its queued key events are looked at. Reader: a pipe
// that cannot be peeked (Wine hands a Unix pipe over as one) is read by a
// thread of its own into a queue. Other: a file, or nothing; reads never wait.
enum class InputKind { Unknown, Pipe, Console, Reader, Other };
static InputKind input_kind = InputKind::Unknown;
static HANDLE input_handle;

static CRITICAL_SECTION queue_lock;
static CONDITION_VARIABLE queue_filled, queue_drained;
// Read by the thread, not yet taken. Never destroyed: the thread may still be
// in a read while the process ends.
static std::string& queued = *new std::string;
static bool queue_ended = false;   // the thread has seen the end of input

// A failed read, or an empty one, is the end of input.
static size_t read_handle(char* buffer, size_t size) {
    DWORD n = 0;
    if (!ReadFile(input_handle, buffer, DWORD(size), &n, nullptr)) return 0;
    return n;
}

static DWORD WINAPI reader_thread(void*) {
    char chunk[READ_CHUNK_BYTES];
    for (;;) {
        size_t n = read_handle(chunk, sizeof chunk);
        EnterCriticalSection(&queue_lock);
        while (n && queued.size() >= READER_QUEUE_LIMIT_BYTES)
            SleepConditionVariableCS(&queue_drained, &queue_lock, INFINITE);
        if (n) queued.append(chunk, n);
        else queue_ended = true;
        LeaveCriticalSection(&queue_lock);
        WakeConditionVariable(&queue_filled);
        if (!n) return 0;
    }
}

static void find_input_kind() {
    if (input_kind != InputKind::Unknown) return;
    input_handle = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode, bytes;
    if (GetFileType(input_handle) == FILE_TYPE_PIPE) {
        bool peekable = PeekNamedPipe(input_handle, nullptr, 0, nullptr, &bytes, nullptr) ||
                        GetLastError() == ERROR_BROKEN_PIPE;
        input_kind = peekable ? InputKind::Pipe : InputKind::Reader;
    } else if (GetConsoleMode(input_handle, &mode)) {
        input_kind = InputKind::Console;
    } else {
        input_kind = InputKind::Other;
    }
    if (input_kind == InputKind::Reader) {
        InitializeCriticalSection(&queue_lock);
        InitializeConditionVariable(&queue_filled);
        InitializeConditionVariable(&queue_drained);
        HANDLE thread = CreateThread(nullptr, 0, reader_thread, nullptr, 0, nullptr);
        if (thread) CloseHandle(thread);
        else input_kind = InputKind::Other;  // no thread: plain blocking reads
    }
}

static size_t read_input(char* buffer, size_t size) {
    find_input_kind();
    if (input_kind != InputKind::Reader) return read_handle(buffer, size);
    EnterCriticalSection(&queue_lock);
    while (queued.empty() && !queue_ended) SleepConditionVariableCS(&queue_filled, &queue_lock, INFINITE);
    size_t n = queued.size() < size ? queued.size() : size;
    memcpy(buffer, queued.data(), n);
    queued.erase(0, n);
    LeaveCriticalSection(&queue_lock);
    WakeConditionVariable(&queue_drained);
    return n;
}

// A console in line mode hands out nothing before Enter, so a line is waiting
// exactly when an Enter key press is among the queued input events.
static bool console_enter_waiting() {
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(input_handle, &count)) return true;
    if (count == 0) return false;
    std::vector<INPUT_RECORD> events(count);
    DWORD got = 0;
    if (!PeekConsoleInputW(input_handle, events.data(), count, &got)) return true;
    for (DWORD i = 0; i < got; i++) {
        const INPUT_RECORD& e = events[i];
        if (e.EventType == KEY_EVENT && e.Event.KeyEvent.bKeyDown && e.Event.KeyEvent.uChar.UnicodeChar == L'\r')
            return true;
    }
    return false;
}

static bool input_ready() {
    find_input_kind();
    switch (input_kind) {
    case InputKind::Pipe: {
        DWORD bytes = 0;
        // A failed peek is a closed pipe: the read then reports the end.
        if (!PeekNamedPipe(input_handle, nullptr, 0, nullptr, &bytes, nullptr)) return true;
        return bytes > 0;
    }
    case InputKind::Console:
        return console_enter_waiting();
    case InputKind::Reader: {
        EnterCriticalSection(&queue_lock);
        bool ready = !queued.empty() || queue_ended;
        LeaveCriticalSection(&queue_lock);
        return ready;
    }
    default:
        return true;
    }
}

// Line ends go out as "\n": text mode would make every one "\r\n".
[[maybe_unused]] static const int binary_output = _setmode(_fileno(stdout), _O_BINARY);

#else

static size_t read_input(char* buffer, size_t size) {
    ssize_t n;
    do {
        n = read(0, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? size_t(n) : 0;
}

static bool input_ready() {
    pollfd fd{0, POLLIN, 0};
    int r;
    do {
        r = poll(&fd, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r != 0;  // errors and hang-ups count as ready: the read then reports them
}

#endif

// ---- Line input ----------------------------------------------------------------------
// Input is read straight from the system into our own buffer: mixing C stdio
// buffering with polling would hide lines that stdio already swallowed.
static std::string pending;       // bytes read but not yet handed out
static size_t scan_from = 0;      // pending[0, scan_from) holds no line end
static bool end_of_input = false;
static bool skipping = false;     // inside an over-long line, dropping bytes up to its end
static bool skipped_line = false; // an over-long line ended and must be reported
static int64_t last_poll = -1;

static bool line_waiting() {
    if (skipped_line || end_of_input) return true;
    size_t pos = pending.find('\n', scan_from);
    if (pos == std::string::npos) {
        scan_from = pending.size();
        return false;
    }
    return true;
}

// Reads whatever is there (one read call) and keeps the buffer bounded.
static void fill_once() {
    char chunk[READ_CHUNK_BYTES];
    size_t len = read_input(chunk, sizeof chunk);
    if (len == 0) {
        end_of_input = true;
        return;
    }
    const char* p = chunk;
    if (skipping) {
        const char* nl = static_cast<const char*>(memchr(p, '\n', len));
        if (!nl) return;
        skipping = false;
        skipped_line = true;
        len -= size_t(nl + 1 - p);
        p = nl + 1;
    }
    pending.append(p, len);
    // A partial line that already passed the limit is dropped at once, so
    // memory stays bounded whatever the sender does.
    if (!skipped_line && pending.find('\n', scan_from) == std::string::npos &&
        pending.size() > MAX_LINE_LENGTH) {
        pending.clear();
        scan_from = 0;
        skipping = true;
    }
}

bool input_available() {
    if (line_waiting()) return true;
    // The search asks at every node once it polls; a system call per node would
    // cost more than the node, so the descriptor is looked at once a millisecond.
    int64_t now = now_ms();
    if (now == last_poll) return false;
    last_poll = now;
    while (input_ready()) {
        fill_once();
        if (line_waiting()) return true;
    }
    return false;
}

// The read itself blocks: no polling while idle.
void wait_for_input() {
    while (!line_waiting()) fill_once();
}

LineStatus read_line(std::string& line) {
    wait_for_input();
    if (skipped_line) {
        skipped_line = false;
        return LineStatus::TooLong;
    }
    size_t pos = pending.find('\n', scan_from);
    if (pos == std::string::npos) {
        // End of input: a last line without a line end still counts.
        if (pending.empty()) return LineStatus::EndOfInput;
        pos = pending.size();
    }
    if (pos > MAX_LINE_LENGTH) {
        pending.erase(0, pos + 1);
        scan_from = 0;
        return LineStatus::TooLong;
    }
    line.assign(pending, 0, pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pending.erase(0, pos + 1);
    scan_from = 0;
    return LineStatus::Line;
}

// steady_clock is the monotonic clock everywhere (QueryPerformanceCounter on Windows).
int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

#ifdef _WIN32
long process_id() { return long(_getpid()); }

bool process_running(long id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(id));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}
#else
long process_id() { return long(getpid()); }

// Signal 0 only asks whether the process exists (EPERM: it does, as another user's).
bool process_running(long id) { return id > 0 && (kill(pid_t(id), 0) == 0 || errno == EPERM); }
#endif

// ---- Output --------------------------------------------------------------------------

static bool output_muted = false;

void log_mute(bool muted) { output_muted = muted; }

void log_print(const char* format, ...) {
    if (output_muted) return;
    char buffer[4096];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return;
    size_t len = size_t(n) < sizeof buffer ? size_t(n) : sizeof buffer - 1;
    // A message cut short keeps its line end, so the next line stands alone.
    size_t format_len = strlen(format);
    if (size_t(n) >= sizeof buffer && format_len && format[format_len - 1] == '\n') buffer[len - 1] = '\n';
    fwrite(buffer, 1, len, stdout);
    fflush(stdout);
}

// ---- Large tables ----------------------------------------------------------------

#ifdef _WIN32

void* allocate_zeroed(size_t bytes) { return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void free_zeroed(void* memory, size_t) { VirtualFree(memory, 0, MEM_RELEASE); }

void advise_huge_pages(void*, size_t) {}

void clear_zeroed(void* memory, size_t bytes) { memset(memory, 0, bytes); }

#else

constexpr size_t HUGE_PAGE_BYTES = size_t(2) << 20;

void* allocate_zeroed(size_t bytes) {
#ifdef __linux__
    // Large tables on 2 MB boundaries, in huge pages where the system allows
    // them: a random probe then rarely misses the address translation cache.
    if (bytes >= HUGE_PAGE_BYTES) {
        size_t padded = bytes + HUGE_PAGE_BYTES;
        void* mapped = mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) return nullptr;
        uintptr_t start = uintptr_t(mapped), aligned = (start + HUGE_PAGE_BYTES - 1) & ~uintptr_t(HUGE_PAGE_BYTES - 1);
        // Only the aligned span stays mapped, so free_zeroed(memory, bytes) unmaps it all.
        if (aligned > start) munmap(mapped, aligned - start);
        size_t tail = start + padded - (aligned + bytes);
        if (tail) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
        advise_huge_pages(reinterpret_cast<void*>(aligned), bytes);
        return reinterpret_cast<void*>(aligned);
    }
#endif
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
}

void free_zeroed(void* memory, size_t bytes) { munmap(memory, bytes); }

void advise_huge_pages([[maybe_unused]] void* memory, [[maybe_unused]] size_t bytes) {
#ifdef __linux__
    madvise(memory, bytes, MADV_HUGEPAGE);
#endif
}

void clear_zeroed(void* memory, size_t bytes) {
#ifdef __linux__
    // Private anonymous pages given back read as zeros when next touched.
    if (madvise(memory, bytes, MADV_DONTNEED) == 0) return;
#endif
    memset(memory, 0, bytes);
}

#endif

#ifdef _WIN32
static int saved_stderr = -1;

void stderr_mute(bool muted) {
    fflush(stderr);
    if (muted && saved_stderr < 0) {
        int null_file = _open("NUL", _O_WRONLY);
        if (null_file < 0) return;
        saved_stderr = _dup(2);
        _dup2(null_file, 2);
        _close(null_file);
    } else if (!muted && saved_stderr >= 0) {
        _dup2(saved_stderr, 2);
        _close(saved_stderr);
        saved_stderr = -1;
    }
}
#else
static int saved_stderr = -1;

void stderr_mute(bool muted) {
    fflush(stderr);
    if (muted && saved_stderr < 0) {
        int null_file = open("/dev/null", O_WRONLY);
        if (null_file < 0) return;
        saved_stderr = dup(2);
        dup2(null_file, 2);
        close(null_file);
    } else if (!muted && saved_stderr >= 0) {
        dup2(saved_stderr, 2);
        close(saved_stderr);
        saved_stderr = -1;
    }
}
#endif

// ---- Files ---------------------------------------------------------------------

#ifdef _WIN32

bool write_file_atomically(const char* path, const std::string& data) {
    std::string temp = std::string(path) + "." + std::to_string(long(_getpid())) + ".tmp";
    FILE* file = fopen(temp.c_str(), "wb");
    if (!file) return false;
    bool written = fwrite(data.data(), 1, data.size(), file) == data.size();
    written = written && fflush(file) == 0 && _commit(_fileno(file)) == 0;
    written = fclose(file) == 0 && written;
    if (written && MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    remove(temp.c_str());
    // Windows refuses to replace a file another process has open: an engine
    // started beside this one, reading the file it has just renamed into
    // place. That file is whole, which is all the caller needs.
    DWORD attributes = GetFileAttributesA(path);
    return written && attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

#else

bool write_file_atomically(const char* path, const std::string& data) {
    std::string temp = std::string(path) + "." + std::to_string(long(getpid())) + ".tmp";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < data.size();) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += size_t(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), path) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

#endif
