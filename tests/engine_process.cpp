#include "engine_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

static int64_t now_millis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string make_temp_directory() {
    char path[] = "/tmp/brik_e2e_XXXXXX";
    if (!mkdtemp(path)) return "";
    return path;
}

void remove_directory(const std::string& dir) {
    if (dir.empty() || dir.rfind("/tmp/brik_e2e_", 0) != 0) return;
    std::string cmd = "rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0) perror("rm");
}

static std::string primed_directory;

static void remove_primed_directory() { remove_directory(primed_directory); }

void prime_magics(const std::string& dir) {
    if (primed_directory.empty()) {
        primed_directory = make_temp_directory();
        atexit(remove_primed_directory);
        EngineProcess e;
        engine_start(e, primed_directory, false);
        engine_send(e, "quit\n");
        engine_wait_exit(e, 60000);
        e.workdir.clear();  // keep the primed directory
        engine_stop(e);
    }
    std::ifstream in(primed_directory + "/magics.txt", std::ios::binary);
    std::ofstream out(dir + "/magics.txt", std::ios::binary);
    out << in.rdbuf();
}

const std::vector<std::string>& engine_command() {
    static std::vector<std::string> words;
    if (words.empty()) {
        const char* command = getenv("BRIK_ENGINE_COMMAND");
        std::istringstream in(command && *command ? command : BRIK_BINARY);
        for (std::string word; in >> word;) words.push_back(word);
    }
    return words;
}

bool engine_start(EngineProcess& e, const std::string& workdir, bool with_magics) {
    signal(SIGPIPE, SIG_IGN);
    e.workdir = workdir.empty() ? make_temp_directory() : workdir;
    if (with_magics) prime_magics(e.workdir);
    std::vector<char*> argv;
    for (const std::string& word : engine_command()) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    int in_pipe[2], out_pipe[2];
    if (pipe(in_pipe) || pipe(out_pipe)) return false;
    e.pid = fork();
    if (e.pid < 0) return false;
    if (e.pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        close(in_pipe[0]);
        close(in_pipe[1]);
        close(out_pipe[0]);
        close(out_pipe[1]);
        if (chdir(e.workdir.c_str()) != 0) _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    e.to_engine = in_pipe[1];
    e.from_engine = out_pipe[0];
    e.buffer.clear();
    e.exit_status = -1;
    return true;
}

void engine_send(EngineProcess& e, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(e.to_engine, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += size_t(n);
    }
}

void engine_close_input(EngineProcess& e) {
    if (e.to_engine >= 0) close(e.to_engine);
    e.to_engine = -1;
}

// Reads what is there within the remaining time; false on timeout or end.
static bool fill(EngineProcess& e, int64_t deadline) {
    int64_t left = deadline - now_millis();
    if (left < 0) return false;
    pollfd fd{e.from_engine, POLLIN, 0};
    if (poll(&fd, 1, int(left)) <= 0) return false;
    char chunk[65536];
    ssize_t n = read(e.from_engine, chunk, sizeof chunk);
    if (n <= 0) return false;
    e.buffer.append(chunk, size_t(n));
    return true;
}

bool engine_read_line(EngineProcess& e, std::string& line, int timeout_ms) {
    int64_t deadline = now_millis() + timeout_ms;
    for (;;) {
        size_t pos = e.buffer.find('\n');
        if (pos != std::string::npos) {
            line = e.buffer.substr(0, pos);
            e.buffer.erase(0, pos + 1);
            return true;
        }
        if (!fill(e, deadline)) return false;
    }
}

bool engine_wait_for(EngineProcess& e, const std::string& prefix, std::vector<std::string>* seen, int timeout_ms) {
    int64_t deadline = now_millis() + timeout_ms;
    std::string line;
    while (engine_read_line(e, line, int(deadline - now_millis()))) {
        if (seen) seen->push_back(line);
        if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

std::string engine_read_all(EngineProcess& e, int timeout_ms) {
    int64_t deadline = now_millis() + timeout_ms;
    while (fill(e, deadline)) {
    }
    std::string all = e.buffer;
    e.buffer.clear();
    return all;
}

bool engine_wait_exit(EngineProcess& e, int timeout_ms) {
    if (e.pid <= 0) return true;
    int64_t deadline = now_millis() + timeout_ms;
    for (;;) {
        int status;
        pid_t r = waitpid(e.pid, &status, WNOHANG);
        if (r == e.pid) {
            e.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            e.pid = -1;
            return true;
        }
        if (now_millis() > deadline) return false;
        usleep(5000);
    }
}

double engine_cpu_seconds(const EngineProcess& e) {
    std::ifstream stat("/proc/" + std::to_string(e.pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close_paren = text.rfind(')');
    if (close_paren == std::string::npos) return -1;
    // Fields after the command name: state is field 3; utime and stime are 14 and 15.
    const char* p = text.c_str() + close_paren + 2;
    long long utime = 0, stime = 0;
    for (int field = 3; field <= 15 && *p; field++) {
        if (field == 14) utime = atoll(p);
        if (field == 15) stime = atoll(p);
        p = strchr(p, ' ');
        if (!p) break;
        p++;
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

void engine_stop(EngineProcess& e) {
    if (e.pid > 0) {
        kill(e.pid, SIGKILL);
        engine_wait_exit(e, 5000);
    }
    engine_close_input(e);
    if (e.from_engine >= 0) close(e.from_engine);
    e.from_engine = -1;
    remove_directory(e.workdir);
    e.workdir.clear();
}

bool engine_start_uci(EngineProcess& e) {
    if (!engine_start(e)) return false;
    engine_send(e, "uci\n");
    return engine_wait_for(e, "uciok");
}

std::vector<std::string> engine_reply_to(EngineProcess& e, const std::string& command) {
    engine_send(e, command + "\nisready\n");
    std::vector<std::string> seen;
    if (!engine_wait_for(e, "readyok", &seen, 60000)) {
        ADD_FAILURE() << "no readyok after: " << command.substr(0, 80);
        return seen;
    }
    seen.pop_back();
    return seen;
}
