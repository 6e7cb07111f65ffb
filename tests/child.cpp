#include "child.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void check(bool ok, const char *what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

void set_cloexec(int fd) { check(fcntl(fd, F_SETFD, FD_CLOEXEC) == 0, "fcntl"); }

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const ChildOptions &options, char *const argv[], char *const envp[]) {
    if (options.session_leader) {
        setsid();
        ioctl(options.in, TIOCSCTTY, 0);
    } else {
        setpgid(0, 0);  // its own group, as a shell runs a job, so stops work
    }
    // Start as a shell would start it: default signal actions, none held.
    for (int signo : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT}) {
        signal(signo, SIG_DFL);
    }
    if (options.ignore_hangup) signal(SIGHUP, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);

    const int sources[] = {options.in, options.out, options.err};
    for (int target = 0; target < 3; ++target) {
        if (sources[target] == closed_stream) {
            close(target);
        } else {
            dup2(sources[target], target);
        }
    }
    execve(COIN_TALLY, argv, envp);
    _exit(127);
}

}  // namespace

Child::Child(const ChildOptions &options) {
    for (int fd : {options.in, options.out, options.err}) {
        if (fd != closed_stream && fd < 3)
            throw std::invalid_argument("stream fds must be above 2");
    }
    std::vector<std::string> args = {"coin_tally"};
    args.insert(args.end(), options.extra_args.begin(), options.extra_args.end());
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char *> envp = {nullptr};

    pid_ = fork();
    check(pid_ >= 0, "fork");
    if (pid_ == 0)
        exec_child(options, argv.data(), options.empty_environment ? envp.data() : environ);
}

Child::~Child() {
    if (reaped_) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

std::optional<int> Child::wait(bool report_stop, milliseconds limit) {
    const auto end = Clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG | (report_stop ? WUNTRACED : 0));
        if (report_stop && done == pid_ && WIFSTOPPED(status)) return status;
        if (done == pid_) {
            reaped_ = true;
            return status;
        }
        if (Clock::now() >= end) break;
        std::this_thread::sleep_for(milliseconds(2));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    reaped_ = true;
    return std::nullopt;
}

bool Child::still_running_after(milliseconds period) {
    std::this_thread::sleep_for(period);
    int status = 0;
    return waitpid(pid_, &status, WNOHANG | WUNTRACED) == 0;
}

long Child::cpu_ticks() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name, which is in parentheses: utime is the
    // 12th and stime the 13th of them.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i >= 12) ticks += std::stol(field);
    }
    return ticks;
}

std::string describe_status(std::optional<int> status) {
    if (!status) return "hung";
    if (WIFEXITED(*status)) return "exit " + std::to_string(WEXITSTATUS(*status));
    if (WIFSIGNALED(*status)) return "signal " + std::to_string(WTERMSIG(*status));
    if (WIFSTOPPED(*status)) return "stopped " + std::to_string(WSTOPSIG(*status));
    return "status " + std::to_string(*status);
}

std::string read_bytes(int fd, std::size_t size, milliseconds limit) {
    const auto end = Clock::now() + limit;
    std::string got;
    while (got.size() < size) {
        pollfd ready = {fd, POLLIN, 0};
        const int polled = poll(&ready, 1, remaining_ms(end));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) break;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, size - got.size()));
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::string read_for(int fd, milliseconds limit) { return read_bytes(fd, SIZE_MAX, limit); }

void write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        check(n > 0, "write");
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

Pipe::Pipe() {
    int ends[2];
    check(pipe2(ends, O_CLOEXEC) == 0, "pipe2");
    read = ends[0];
    write = ends[1];
}

Pipe::~Pipe() {
    close_read();
    close_write();
}

void Pipe::close_read() {
    if (read >= 0) close(read);
    read = -1;
}

void Pipe::close_write() {
    if (write >= 0) close(write);
    write = -1;
}

std::string Pipe::read_to_end() {
    close_write();
    return read_for(read, deadline);
}

Terminal::Terminal() {
    check(openpty(&master, &slave, nullptr, nullptr, nullptr) == 0, "openpty");
    set_cloexec(master);
    set_cloexec(slave);
}

Terminal::~Terminal() {
    close_master();
    close(slave);
}

void Terminal::close_master() {
    if (master >= 0) close(master);
    master = -1;
}

termios Terminal::settings() const {
    termios settings = {};
    check(tcgetattr(slave, &settings) == 0, "tcgetattr");
    return settings;
}

void Terminal::apply(const termios &settings) const {
    check(tcsetattr(slave, TCSANOW, &settings) == 0, "tcsetattr");
}

bool Terminal::wait_for_key_mode(milliseconds limit) const {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if ((settings().c_lflag & (ICANON | ECHO)) == 0) return true;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return false;
}

std::string describe_settings(const termios &s) {
    char text[128];
    std::snprintf(
        text, sizeof text,
        "iflag=%#x oflag=%#x cflag=%#x lflag=%#x line=%d ispeed=%u ospeed=%u cc=", s.c_iflag,
        s.c_oflag, s.c_cflag, s.c_lflag, s.c_line, cfgetispeed(&s), cfgetospeed(&s));
    std::string described = text;
    for (cc_t c : s.c_cc) described += std::to_string(c) + ",";
    return described;
}
