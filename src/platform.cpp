#include "platform.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

// Input is read with read(2) into our own buffer: mixing C stdio buffering
// with poll() would hide lines that stdio already swallowed.
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
    char chunk[65536];
    ssize_t n;
    do {
        n = read(0, chunk, sizeof chunk);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        end_of_input = true;
        return;
    }
    const char* p = chunk;
    size_t len = size_t(n);
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

static bool readable(int timeout_ms) {
    pollfd fd{0, POLLIN, 0};
    int r;
    do {
        r = poll(&fd, 1, timeout_ms);
    } while (r < 0 && errno == EINTR);
    return r != 0;  // errors and hang-ups count as readable: read() then reports them
}

bool input_available() {
    if (line_waiting()) return true;
    // The search asks at every node once it polls; a system call per node would
    // cost more than the node, so the descriptor is looked at once a millisecond.
    int64_t now = now_ms();
    if (now == last_poll) return false;
    last_poll = now;
    while (readable(0)) {
        fill_once();
        if (line_waiting()) return true;
    }
    return false;
}

void wait_for_input() {
    while (!line_waiting()) {
        readable(-1);
        fill_once();
    }
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

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

#include <cstdarg>
#include <cstdio>

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

// ---- Files ---------------------------------------------------------------------

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
