// coin_tally on a pseudo-terminal, as a user at a terminal would run it.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <ostream>
#include <thread>

#include "child.h"

namespace {

// The terminal turns each line break into CR LF.
const std::string report_on_terminal =
    "3 nikels and 7 dimes. \r\n"
    "= 85 cents. \r\n"
    "Design by Varnoth\r\n";

// The rest of a key is waited for this long at most; a pause longer than
// this between two writes makes them two keys.
constexpr milliseconds longer_than_key_wait{300};

class OnTerminal : public ::testing::Test {
  protected:
    ChildOptions on_terminal() const {
        ChildOptions options;
        options.in = options.out = options.err = terminal.slave;
        return options;
    }

    // Starts coin_tally and waits until it waits for the key.
    std::unique_ptr<Child> start(ChildOptions options) {
        auto child = std::make_unique<Child>(options);
        EXPECT_EQ(read_bytes(terminal.master, report_on_terminal.size()), report_on_terminal);
        EXPECT_TRUE(terminal.wait_for_key_mode()) << "never switched the terminal to key mode";
        return child;
    }
    std::unique_ptr<Child> start() { return start(on_terminal()); }

    void expect_settings_as_before() const {
        EXPECT_EQ(describe_settings(terminal.settings()), describe_settings(before));
    }

    // The program is (again) waiting in key mode, and a key still ends it
    // with the settings given back.
    void expect_key_mode_and_key_read(Child &child) const {
        EXPECT_TRUE(terminal.wait_for_key_mode()) << "not in key mode";
        write_all(terminal.master, "q");
        EXPECT_EQ(describe_status(child.wait()), "exit 113");
        expect_settings_as_before();
    }

    // What is left in the terminal's input for whoever reads next.
    std::string left_for_next_reader() const {
        termios raw = terminal.settings();
        cfmakeraw(&raw);
        terminal.apply(raw);
        return read_for(terminal.slave, milliseconds(100));
    }

    Terminal terminal;
    termios before = terminal.settings();
};

TEST_F(OnTerminal, PrintsReportWaitsWithoutEchoAndExitsWithKeyCode) {
    auto child = start();
    const termios during = terminal.settings();
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(during.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_EQ(during.c_cc[VMIN], 1);
    EXPECT_TRUE(child->still_running_after(milliseconds(200))) << "ended without a key";

    write_all(terminal.master, "a");
    EXPECT_EQ(describe_status(child->wait()), "exit 97");
    EXPECT_EQ(read_for(terminal.master, milliseconds(100)), "") << "the key was echoed";
    expect_settings_as_before();
}

struct KeyCase {
    const char *name;
    std::string key;
    int exit_status;
    // The key only ends when nothing follows it for a while.
    bool ends_by_silence;
};

std::ostream &operator<<(std::ostream &out, const KeyCase &c) { return out << c.name; }

class KeyOnTerminal : public OnTerminal, public ::testing::WithParamInterface<KeyCase> {};

// Each key, then the next key: exactly the first is read, the next is left
// in the terminal, and the settings come back as they were.
TEST_P(KeyOnTerminal, ReadsWholeKeyAndLeavesTheNext) {
    const KeyCase &c = GetParam();
    auto child = start();
    write_all(terminal.master, c.key);
    if (c.ends_by_silence) std::this_thread::sleep_for(longer_than_key_wait);
    write_all(terminal.master, "z");
    EXPECT_EQ(describe_status(child->wait()), "exit " + std::to_string(c.exit_status));
    expect_settings_as_before();
    EXPECT_EQ(left_for_next_reader(), "z");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Keys, KeyOnTerminal, ::testing::Values(
    KeyCase{"letter", "a", 97, false},
    KeyCase{"enter", "\r", 13, false},
    KeyCase{"tab", "\t", 9, false},
    KeyCase{"backspace", "\x7f", 127, false},
    KeyCase{"ctrl_c", "\x03", 3, false},
    KeyCase{"ctrl_z", "\x1a", 26, false},
    KeyCase{"ctrl_backslash", "\x1c", 28, false},
    KeyCase{"ctrl_s", "\x13", 19, false},
    KeyCase{"ctrl_q", "\x11", 17, false},
    KeyCase{"ctrl_v", "\x16", 22, false},
    KeyCase{"ctrl_d", "\x04", 4, false},
    KeyCase{"e_acute", "\xc3\xa9", 233, false},
    KeyCase{"euro_sign_low_byte", "\xe2\x82\xac", 0xac, false},
    KeyCase{"latin1_byte", "\xe9", 233, true},
    KeyCase{"lone_esc", "\x1b", 27, true},
    KeyCase{"alt_x", "\x1bx", 0, false},
    KeyCase{"up_xterm", "\x1b[A", 224, false},
    KeyCase{"up_application_mode", "\x1bOA", 224, false},
    KeyCase{"ctrl_right", "\x1b[1;5C", 224, false},
    KeyCase{"alt_up_rxvt", "\x1b\x1b[A", 224, false},
    KeyCase{"delete", "\x1b[3~", 224, false},
    KeyCase{"f1", "\x1bOP", 0, false},
    KeyCase{"f1_linux_console", "\x1b[[A", 0, false},
    KeyCase{"shift_f5", "\x1b[15;2~", 0, false},
    KeyCase{"f12", "\x1b[24~", 224, false},
    KeyCase{"unknown_sequence", "\x1b[99;9~", 224, false},
    KeyCase{"cut_off_sequence", "\x1b[1;5", 224, true}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

TEST_F(OnTerminal, EscapeSequenceSplitByASlowLinkIsOneKey) {
    auto child = start();
    write_all(terminal.master, "\x1b[");
    std::this_thread::sleep_for(milliseconds(10));
    write_all(terminal.master, "1;2");
    std::this_thread::sleep_for(milliseconds(10));
    write_all(terminal.master, "B");
    EXPECT_EQ(describe_status(child->wait()), "exit 224");
    EXPECT_EQ(left_for_next_reader(), "");
}

TEST_F(OnTerminal, KeyTypedBeforeTheReadStillCounts) {
    write_all(terminal.master, "k");
    Child child(on_terminal());
    EXPECT_EQ(describe_status(child.wait()), "exit 107");
    expect_settings_as_before();
}

TEST_F(OnTerminal, GivesBackUnusualSettingsExactly) {
    termios unusual = before;
    unusual.c_iflag &= ~ICRNL;
    unusual.c_iflag |= IUTF8 | IXANY;
    unusual.c_lflag &= ~(ECHOCTL | ECHOKE);
    unusual.c_cc[VMIN] = 7;
    unusual.c_cc[VTIME] = 3;
    unusual.c_cc[VINTR] = 0x18;
    cfsetispeed(&unusual, B9600);
    cfsetospeed(&unusual, B9600);
    terminal.apply(unusual);
    before = terminal.settings();

    auto child = start();
    write_all(terminal.master, "x");
    EXPECT_EQ(describe_status(child->wait()), "exit 120");
    expect_settings_as_before();
}

class SignalOnTerminal : public OnTerminal, public ::testing::WithParamInterface<int> {};

TEST_P(SignalOnTerminal, RestoresTerminalAndDiesOfTheSameSignal) {
    const int signo = GetParam();
    auto child = start();
    kill(child->pid(), signo);
    EXPECT_EQ(describe_status(child->wait()), "signal " + std::to_string(signo));
    expect_settings_as_before();
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalOnTerminal,
                         ::testing::Values(SIGTERM, SIGHUP, SIGINT, SIGQUIT),
                         [](const auto &info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(OnTerminal, StopGivesTerminalBackAndContinueTakesItAgain) {
    auto child = start();
    kill(child->pid(), SIGTSTP);
    EXPECT_EQ(describe_status(child->wait(true)), "stopped " + std::to_string(SIGTSTP));
    expect_settings_as_before();

    kill(child->pid(), SIGCONT);
    expect_key_mode_and_key_read(*child);
}

// A shell may reset the terminal while a job is stopped by SIGSTOP, which
// the program cannot see coming; once continued it takes key mode again.
TEST_F(OnTerminal, ContinueAfterStopSignalRetakesKeyMode) {
    auto child = start();
    kill(child->pid(), SIGSTOP);
    EXPECT_EQ(describe_status(child->wait(true)), "stopped " + std::to_string(SIGSTOP));
    terminal.apply(before);

    kill(child->pid(), SIGCONT);
    expect_key_mode_and_key_read(*child);
}

// As a session leader its process group is orphaned, and the kernel drops
// terminal stops; the read must go on in key mode all the same.
TEST_F(OnTerminal, DroppedStopKeepsWaitingInKeyMode) {
    ChildOptions options = on_terminal();
    options.session_leader = true;
    auto child = start(options);
    kill(child->pid(), SIGTSTP);
    EXPECT_TRUE(child->still_running_after(milliseconds(100)));
    expect_key_mode_and_key_read(*child);
}

TEST_F(OnTerminal, HangUpOfControllingTerminalEndsBySighup) {
    ChildOptions options = on_terminal();
    options.session_leader = true;
    auto child = start(options);
    terminal.close_master();
    EXPECT_EQ(describe_status(child->wait()), "signal " + std::to_string(SIGHUP));
}

TEST_F(OnTerminal, HangUpWithSighupIgnoredIsEndOfInput) {
    ChildOptions options = on_terminal();
    options.session_leader = true;
    options.ignore_hangup = true;
    auto child = start(options);
    terminal.close_master();
    EXPECT_EQ(describe_status(child->wait()), "exit 255");
}

}  // namespace
