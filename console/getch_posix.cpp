// The key read on POSIX systems. On a terminal it switches off line
// editing and echo for the read, and gives the settings back on every way
// out, signals included. Bytes are read one at a time, so the next key's
// bytes stay where the next reader will find them.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "console/getch.h"
#include "console/key_decoder.h"

namespace {

// How long the rest of a key may take once a byte has begun it. Terminals
// send a key's bytes together; a lone Esc is known by the silence after it.
constexpr int rest_of_key_ms = 50;

// The terminal's settings as found and as used for the read. Both are
// here, not on the stack, because the signal handlers need them.
termios saved_settings;
termios key_settings;

constexpr int handled_signals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGTSTP, SIGCONT};
constexpr int handled_count = sizeof handled_signals / sizeof handled_signals[0];
struct sigaction previous_actions[handled_count];

termios key_mode(termios settings) {
    settings.c_lflag &= ~(ICANON      // bytes as they come, not lines; Ctrl-D is a byte
                          | ECHO      // the key is not shown
                          | ISIG      // Ctrl-C, Ctrl-Z and Ctrl-\ are keys, not signals
                          | IEXTEN);  // Ctrl-V and Ctrl-O are keys, not editing
    settings.c_iflag &= ~(IXON        // Ctrl-S and Ctrl-Q are keys, not flow control
                          | ICRNL | INLCR | IGNCR  // Enter reads as CR (13), as sent
                          | ISTRIP                 // all eight bits of every byte
                          | BRKINT | PARMRK);      // a break reads as one NUL, not SIGINT
    // A read returns as soon as one byte is there, with no timer: the wait
    // for the rest of a key is done with poll.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    return settings;
}

// TCSANOW in both directions: a flush would throw away keys typed early,
// or the next reader's.
void enter_key_mode() { tcsetattr(STDIN_FILENO, TCSANOW, &key_settings); }
void leave_key_mode() { tcsetattr(STDIN_FILENO, TCSANOW, &saved_settings); }

void set_handler(int signo, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int other : handled_signals) sigaddset(&action.sa_mask, other);
    sigaction(signo, &action, nullptr);
}

// Gives the terminal back and dies of the same signal, so the parent sees
// why. The signal is blocked in here and strikes as the handler returns.
void on_fatal_signal(int signo) {
    leave_key_mode();
    set_handler(signo, SIG_DFL);
    raise(signo);
}

// Ctrl-Z from the shell (or kill -TSTP): give the terminal back while
// stopped, take it again once continued. In an orphaned process group the
// kernel drops the stop, and the read simply goes on.
void on_stop(int) {
    const int saved_errno = errno;
    leave_key_mode();
    set_handler(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    // cppcheck-suppress unreachableCode ; raise() returns once the process is continued
    set_handler(SIGTSTP, on_stop);
    enter_key_mode();
    errno = saved_errno;
}

// Continued after a stop that was not ours to see (SIGSTOP); the shell may
// have reset the terminal meanwhile.
void on_continue(int) {
    const int saved_errno = errno;
    enter_key_mode();
    errno = saved_errno;
}

void install_handlers() {
    for (int i = 0; i < handled_count; ++i) {
        const int signo = handled_signals[i];
        sigaction(signo, nullptr, &previous_actions[i]);
        if (previous_actions[i].sa_handler == SIG_IGN) continue;  // the caller's choice
        if (signo == SIGTSTP) {
            set_handler(signo, on_stop);
        } else if (signo == SIGCONT) {
            set_handler(signo, on_continue);
        } else {
            set_handler(signo, on_fatal_signal);
        }
    }
}

void restore_handlers() {
    for (int i = 0; i < handled_count; ++i)
        sigaction(handled_signals[i], &previous_actions[i], nullptr);
}

// Reads one byte, waiting at most timeout_ms (-1: for ever). False at end
// of input, on an error such as a hang-up, and when the time runs out.
bool read_byte(unsigned char *byte, int timeout_ms) {
    for (;;) {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, timeout_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return false;
        const ssize_t got = read(STDIN_FILENO, byte, 1);
        if (got == 1) return true;
        // EAGAIN: stdin was left non-blocking by someone else; poll again.
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return false;
    }
}

int read_key() {
    unsigned char bytes[max_key_length];
    std::size_t count = 0;
    bool input_ended = false;
    for (;;) {
        const KeyDecode decoded = decode_key(bytes, count, input_ended);
        if (decoded.status == KeyStatus::no_key) return -1;
        if (decoded.status == KeyStatus::key) {
            // Only a malformed key is found out by reading a byte past it.
            // A file can give that byte back; a pipe or terminal cannot.
            if (decoded.length < count)
                lseek(STDIN_FILENO, -static_cast<off_t>(count - decoded.length), SEEK_CUR);
            return decoded.code;
        }
        const int timeout_ms = count == 0 ? -1 : rest_of_key_ms;
        if (count < max_key_length && read_byte(&bytes[count], timeout_ms)) {
            ++count;
        } else {
            input_ended = true;
        }
    }
}

}  // namespace

int getch() {
    // A reader of the report that has gone away must not kill the program
    // before the key is read, nor at exit, when the report may still be
    // in stdout's buffer.
    signal(SIGPIPE, SIG_IGN);
    std::fflush(stdout);

    if (tcgetattr(STDIN_FILENO, &saved_settings) != 0) return read_key();  // not a terminal

    key_settings = key_mode(saved_settings);
    // The handlers and the terminal change together, with the signals held
    // back, so no signal finds one without the other.
    sigset_t signals;
    sigset_t previous_mask;
    sigemptyset(&signals);
    for (int signo : handled_signals) sigaddset(&signals, signo);
    sigprocmask(SIG_BLOCK, &signals, &previous_mask);
    install_handlers();
    enter_key_mode();
    sigprocmask(SIG_SETMASK, &previous_mask, nullptr);

    const int code = read_key();

    sigprocmask(SIG_BLOCK, &signals, nullptr);
    leave_key_mode();
    restore_handlers();
    sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
    return code;
}
