// coin_tally with pipes, files and faulty standard streams.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <thread>

#include "child.h"

namespace {

const std::string report =
    "3 nikels and 7 dimes. \n"
    "= 85 cents. \n"
    "Design by Varnoth\n";

struct Fd {
    explicit Fd(int fd) : fd(fd) {}
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int fd;
};

TEST(Report, IsExactAndIgnoresArgumentsAndEnvironment) {
    for (bool with_extras : {false, true}) {
        Fd input(open("/dev/null", O_RDONLY | O_CLOEXEC));
        Pipe out;
        Pipe err;
        ChildOptions options;
        options.in = input.fd;
        options.out = out.write;
        options.err = err.write;
        if (with_extras) {
            options.extra_args = {"--help", "5", "nikels"};
            options.empty_environment = true;
        }
        Child child(options);
        EXPECT_EQ(out.read_to_end(), report);
        EXPECT_EQ(err.read_to_end(), "");
        EXPECT_EQ(describe_status(child.wait()), "exit 255");
    }
}

// The report can be read from a pipe while the program waits for its key.
TEST(Report, IsOutBeforeTheKeyIsRead) {
    Pipe in;
    Pipe out;
    ChildOptions options;
    options.in = in.read;
    options.out = out.write;
    Child child(options);
    out.close_write();
    EXPECT_EQ(read_bytes(out.read, report.size()), report);
    EXPECT_TRUE(child.still_running_after(milliseconds(100)));
    write_all(in.write, "a");
    EXPECT_EQ(describe_status(child.wait()), "exit 97");
}

struct PipeCase {
    const char *name;
    std::string input;
    int exit_status;
    std::string left_over;  // what the next reader of the pipe gets
};

std::ostream &operator<<(std::ostream &out, const PipeCase &c) { return out << c.name; }

class KeyFromPipe : public ::testing::TestWithParam<PipeCase> {};

// The whole input is in the pipe and its writer has gone.
TEST_P(KeyFromPipe, DecodesOneKeyAndLeavesTheRest) {
    const PipeCase &c = GetParam();
    Pipe in;
    Pipe err;
    write_all(in.write, c.input);
    in.close_write();
    ChildOptions options;
    options.in = in.read;
    options.err = err.write;
    Child child(options);
    EXPECT_EQ(describe_status(child.wait()), "exit " + std::to_string(c.exit_status));
    EXPECT_EQ(in.read_to_end(), c.left_over);
    EXPECT_EQ(err.read_to_end(), "");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Inputs, KeyFromPipe, ::testing::Values(
    PipeCase{"empty", "", 255, ""},
    PipeCase{"letter", "a", 97, ""},
    PipeCase{"letter_then_more", "ab\n", 97, "b\n"},
    PipeCase{"line_feed", "\nx", 10, "x"},
    PipeCase{"e_acute", "\xc3\xa9!", 233, "!"},
    PipeCase{"lead_byte_at_end", "\xc3", 195, ""},
    PipeCase{"esc_at_end", "\x1b", 27, ""},
    PipeCase{"up_then_more", "\x1b[Az", 224, "z"},
    PipeCase{"f1_then_more", "\x1bOPz", 0, "z"},
    PipeCase{"alt_x_then_more", "\x1bxz", 0, "z"},
    PipeCase{"sequence_cut_by_end", "\x1b[1;5", 224, ""}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

struct FileCase {
    const char *name;
    std::string contents;
    int exit_status;
    off_t offset_after;  // where the next reader of the file starts
};

std::ostream &operator<<(std::ostream &out, const FileCase &c) { return out << c.name; }

class KeyFromFile : public ::testing::TestWithParam<FileCase> {};

// A file shares its offset with the next reader, so a byte read past a
// malformed key is given back.
TEST_P(KeyFromFile, LeavesOffsetAfterTheKey) {
    const FileCase &c = GetParam();
    FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(c.contents.data(), 1, c.contents.size(), file);
    std::fflush(file);
    Fd input(open(("/proc/self/fd/" + std::to_string(fileno(file))).c_str(), O_RDONLY | O_CLOEXEC));
    std::fclose(file);
    ChildOptions options;
    options.in = input.fd;
    Child child(options);
    EXPECT_EQ(describe_status(child.wait()), "exit " + std::to_string(c.exit_status));
    EXPECT_EQ(lseek(input.fd, 0, SEEK_CUR), c.offset_after);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, KeyFromFile, ::testing::Values(
    FileCase{"empty", "", 255, 0},
    FileCase{"letter", "ab", 97, 1},
    FileCase{"up_arrow", "\x1b[Ab", 224, 3},
    FileCase{"invalid_utf8_then_letter", "\xe9z", 233, 1},
    FileCase{"sequence_broken_by_control_byte", "\x1b[1\rz", 224, 3}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

TEST(NoInput, EndOfInputReadErrorAndClosedStdinAllGive255) {
    // /dev/null is at end of input, a directory fails to read, and no path
    // means stdin is closed.
    const char *inputs[] = {"/dev/null", "/", nullptr};
    for (const char *path : inputs) {
        const std::string what = path ? path : "closed stdin";
        Fd input(path ? open(path, O_RDONLY | O_CLOEXEC) : closed_stream);
        Pipe err;
        ChildOptions options;
        options.in = input.fd;
        options.err = err.write;
        Child child(options);
        EXPECT_EQ(describe_status(child.wait()), "exit 255") << what;
        EXPECT_EQ(err.read_to_end(), "") << what;
    }
}

// Waiting on an open pipe that stays empty is a blocked read, not a loop.
TEST(SlowPipe, WaitingOnEmptyPipeCostsNoCpu) {
    Pipe in;
    ChildOptions options;
    options.in = in.read;
    Child child(options);
    EXPECT_TRUE(child.still_running_after(milliseconds(200)));  // past start-up
    const long ticks_before = child.cpu_ticks();
    EXPECT_TRUE(child.still_running_after(milliseconds(500)));
    EXPECT_LE(child.cpu_ticks() - ticks_before, 1);  // a busy loop would show about 50
    in.close_write();
    EXPECT_EQ(describe_status(child.wait()), "exit 255");
}

TEST(SlowPipe, LoneEscIsAKeyOnceNothingFollows) {
    Pipe in;
    ChildOptions options;
    options.in = in.read;
    Child child(options);
    write_all(in.write, "\x1b");
    EXPECT_EQ(describe_status(child.wait(false, milliseconds(1000))), "exit 27");
}

TEST(SlowPipe, SplitSequenceIsOneKey) {
    Pipe in;
    ChildOptions options;
    options.in = in.read;
    Child child(options);
    write_all(in.write, "\x1b[2");
    std::this_thread::sleep_for(milliseconds(10));
    write_all(in.write, "~z");
    EXPECT_EQ(describe_status(child.wait()), "exit 224");
    EXPECT_EQ(in.read_to_end(), "z");
}

// Output that fails changes nothing: the key is still waited for and its
// code returned, and nothing appears on stderr.
TEST(FaultyOutput, StillWaitsForKeyAndExitsWithItsCode) {
    const char *faults[] = {"/dev/full", "closed stdout", "broken pipe"};
    for (const char *fault : faults) {
        Pipe in;
        Pipe err;
        Pipe broken;
        broken.close_read();
        Fd full(open("/dev/full", O_WRONLY | O_CLOEXEC));
        ChildOptions options;
        options.in = in.read;
        options.err = err.write;
        const std::string which = fault;
        options.out = which == "/dev/full"     ? full.fd
                      : which == "broken pipe" ? broken.write
                                               : closed_stream;
        Child child(options);
        EXPECT_TRUE(child.still_running_after(milliseconds(100))) << fault;
        write_all(in.write, "a");
        EXPECT_EQ(describe_status(child.wait()), "exit 97") << fault;
        EXPECT_EQ(err.read_to_end(), "") << fault;
    }
}

}  // namespace
