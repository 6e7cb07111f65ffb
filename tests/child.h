// Runs the built coin_tally as a child process, with every wait bounded.
#ifndef TESTS_CHILD_H
#define TESTS_CHILD_H

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using std::chrono::milliseconds;

// The longest any single wait in a test may take before it counts as a hang.
constexpr milliseconds deadline{5000};

// A standard stream the child starts with closed.
constexpr int closed_stream = -1;

struct ChildOptions {
    int in = closed_stream;
    int out = closed_stream;
    int err = closed_stream;
    // Own session with the terminal on `in` as controlling terminal, instead
    // of an own process group in the test's session.
    bool session_leader = false;
    bool ignore_hangup = false;
    std::vector<std::string> extra_args;
    bool empty_environment = false;
};

class Child {
  public:
    explicit Child(const ChildOptions &options);
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    pid_t pid() const { return pid_; }
    // waitpid's status once the child ends (or stops, when asked), or
    // nothing if it has not by the deadline; then it is killed.
    std::optional<int> wait(bool report_stop = false, milliseconds limit = deadline);
    // True if the child is still running once `period` has passed.
    bool still_running_after(milliseconds period);
    // User plus system CPU time so far, in clock ticks.
    long cpu_ticks() const;

  private:
    pid_t pid_;
    bool reaped_ = false;
};

// "exit 97", "signal 15", "stopped 20" or "hung".
std::string describe_status(std::optional<int> status);

// Reads from fd until it has `size` bytes, reaches end of file or the time
// runs out.
std::string read_bytes(int fd, std::size_t size, milliseconds limit = deadline);
// Reads whatever fd gives until end of file or `limit` passes.
std::string read_for(int fd, milliseconds limit);
void write_all(int fd, std::string_view bytes);

// A pipe whose ends are not inherited by the child (it gets its copy by dup).
struct Pipe {
    Pipe();
    ~Pipe();
    void close_read();
    void close_write();
    // Closes the test's write end and reads until every writer has gone.
    std::string read_to_end();
    int read = -1;
    int write = -1;
};

// A pseudo-terminal; the test keeps both sides open, so the settings can be
// read after the child has gone.
struct Terminal {
    Terminal();
    ~Terminal();
    termios settings() const;
    void apply(const termios &settings) const;
    // True once the child has switched the terminal to key mode.
    bool wait_for_key_mode(milliseconds limit = deadline) const;
    void close_master();
    int master = -1;
    int slave = -1;
};

// Every termios field, for comparing and printing.
std::string describe_settings(const termios &settings);

#endif
