// tapemu's sandbox as a user meets it: a receiver side that crashes is
// one line and leaves the trace up to the crash; the disk and output
// folders lie apart; links left where the outputs and the copy of a TAP
// go are replaced, never written through; --no-sandbox warns and plays
// the same script.  (What a hostile TAP cannot do in the sandbox is
// tests/emulator/hostile.sh.)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "emutest.h"

namespace {

const std::string tapDir = TEST_TAP_DIR;

// tapemu's own lines on stderr (under qemu, qemu adds its own).
std::vector<std::string> tapemuLines(const std::string &err) {
    std::vector<std::string> own;
    for (const std::string &line : lines(err))
        if (line.rfind("tapemu: ", 0) == 0) own.push_back(line);
    return own;
}

class Sandbox : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!sandboxWorks(&why)) GTEST_SKIP() << why;
    }
};

TEST_F(Sandbox, CrashingTapIsOneLineAndTheTraceKeepsEverythingUpToTheCrash) {
    std::string f = testFolder();
    TapemuResult r = runTapemu(f, {"--disk", f + "/disk", "--out", f + "/out", "--keys", "IDLE OK EXIT",
                                tapDir + "/Crasher.tap"});
    EXPECT_EQ(1, r.status) << r.err;  // tapemu itself ends normally
    std::vector<std::string> expectedErr = {
        "tapemu: the receiver side crashed (Segmentation fault); trace.txt keeps everything up to the crash"};
    EXPECT_EQ(expectedErr, tapemuLines(r.err)) << r.err;
    EXPECT_EQ("", r.out);
    // Crasher prints a line longer than the channel's ring between two
    // short ones, then writes through a null pointer.
    const size_t longLine = (3 << 19) - 1;
    std::vector<std::string> expected = {
        "LOAD 0 \"/ProgramFiles/Crasher.tap\" id 0x51525698",
        "MAIN 0 -> 1",
        "EVENT 0 0x0 0x0 0x0 -> 0x0",
        "EVENT 0 0x0 0x0 0x0 -> 0x0",
        "TAP_Print \"before the long line\\x0A\" -> 21",
        "TAP_Print \"" + std::string(longLine, 'x') + "\" -> " + std::to_string(longLine),
        "TAP_Print \"crashing on key 0x1001E\\x0A\" -> 24",
    };
    std::vector<std::string> trace = lines(readFile(f + "/out/trace.txt"));
    EXPECT_EQ(expected.size(), trace.size());
    for (size_t i = 0; i < expected.size() && i < trace.size(); i++)
        EXPECT_EQ(expected[i], trace[i]) << "line " << i + 1;
}

// A receiver side that does not end as it should: tapemu says how in one
// line, exits 1 and keeps the whole trace up to there.
struct BadEnd {
    const char *what;
    const char *tap;
    const char *line;                     // tapemu's one line
    std::vector<std::string> traceEnd;   // the last lines of trace.txt
};

void PrintTo(const BadEnd &c, std::ostream *o) { *o << c.what; }

class SandboxEnds : public Sandbox, public ::testing::WithParamInterface<BadEnd> {};

TEST_P(SandboxEnds, InOneLineAndKeepsTheTrace) {
    const BadEnd &c = GetParam();
    std::string f = testFolder();
    TapemuResult r = runTapemu(f, {"--disk", f + "/disk", "--out", f + "/out", "--keys", "OK EXIT",
                                tapDir + "/" + c.tap});
    EXPECT_EQ(1, r.status) << c.what << ": " << r.err;
    EXPECT_EQ(std::vector<std::string>{std::string("tapemu: ") + c.line}, tapemuLines(r.err)) << c.what;
    std::vector<std::string> trace = lines(readFile(f + "/out/trace.txt"));
    ASSERT_GE(trace.size(), c.traceEnd.size()) << c.what;
    EXPECT_EQ(c.traceEnd, std::vector<std::string>(trace.end() - c.traceEnd.size(), trace.end())) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Taps, SandboxEnds,
    ::testing::ValuesIn(std::vector<BadEnd>{
        {"a TAP that scribbles on the channel", "Scribbler.tap",
         "the receiver side sent a damaged record; its records are dropped from here on",
         {"TAP_Print \"scribbling on the channel: 12\\x0A\" -> 30", "EVENT 0 0x100 0x1001E 0x0 -> 0x1001E",
          "EVENT 0 0x100 0x10017 0x0 -> 0x10017", "EVENT 0 0x0 0x0 0x0 -> 0x0", "EVENT 0 0x0 0x0 0x0 -> 0x0",
          "EVENT 0 0x0 0x0 0x0 -> 0x0", "END 0 still running at the end",
          "SLOT 0 \"/ProgramFiles/Scribbler.tap\" id 0x51525698 heap 0 dirstack unknown still running at the end"}},
        {"a TAP that calls exit", "Exiter.tap",
         "the receiver side ended before the script did (exit status 0); trace.txt keeps everything up to there",
         {"EVENT 0 0x0 0x0 0x0 -> 0x0", "TAP_Print \"leaving through exit(0)\\x0A\" -> 24"}},
    }));

TEST_F(Sandbox, WithoutItTapemuWarnsOnceAndPlaysTheSameScript) {
    std::string f = testFolder();
    makeDirs(f + "/plain/ProgramFiles");
    std::vector<std::string> script = {"--keys", "IDLE OK FORWARD BACK 0x10055 EXIT", "--time", "2016-02-29 13:05:09",
                                       "--no-pictures", tapDir + "/Sketch.tap"};
    std::vector<std::string> confined = {"--disk", f + "/disk", "--out", f + "/out"};
    std::vector<std::string> plain = {"--no-sandbox", "--disk", f + "/plain", "--out", f + "/plainout"};
    confined.insert(confined.end(), script.begin(), script.end());
    plain.insert(plain.end(), script.begin(), script.end());
    TapemuResult a = runTapemu(f, confined);
    ASSERT_EQ(0, a.status) << a.err;
    EXPECT_EQ("", a.err);
    TapemuResult b = runTapemu(f, plain);
    ASSERT_EQ(0, b.status) << b.err;
    ASSERT_EQ(1u, lines(b.err).size()) << b.err;
    EXPECT_NE(std::string::npos, b.err.find("warning: --no-sandbox: the TAPs run unconfined")) << b.err;
    EXPECT_EQ(readFile(f + "/plainout/trace.txt"), readFile(f + "/out/trace.txt"));
    EXPECT_EQ(std::string("forward\n\0back\n\0", 15), readFile(f + "/out/console.bin"));
    EXPECT_EQ(readFile(f + "/plainout/console.bin"), readFile(f + "/out/console.bin"));
}

// Which console terminals a TAP's open reaches, as README's --pts says:
// in the sandbox only /dev/pts/N, without it every one from N on; none:
// not one.  Every piece lands in console.bin, and no descriptor stays.
struct Terminals {
    std::vector<std::string> options;
    std::string console;  // console.bin after the TAP tried /dev/pts/0 to 5
};

void PrintTo(const Terminals &c, std::ostream *o) {
    for (const std::string &w : c.options) *o << w << " ";
}

class SandboxTerminals : public Sandbox, public ::testing::WithParamInterface<Terminals> {};

TEST_P(SandboxTerminals, ReachTheConsoleAsTheOptionSays) {
    std::string f = testFolder();
    std::vector<std::string> args = {"--disk", f + "/disk", "--out", f + "/out", "--no-pictures", "--keys",
                                     "DIGIT_9 EXIT"};
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    args.push_back(tapDir + "/Sketch.tap");
    TapemuResult r = runTapemu(f, args);
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(GetParam().console, readFile(f + "/out/console.bin"));
    EXPECT_NE(std::string::npos, readFile(f + "/out/trace.txt").find("terminals: descriptors as before"));
}

INSTANTIATE_TEST_SUITE_P(
    Options, SandboxTerminals,
    ::testing::ValuesIn(std::vector<Terminals>{
        {{}, std::string("pts 0\n\0", 7)},
        {{"--pts", "3"}, std::string("pts 3\n\0", 7)},
        {{"--pts", "3", "--no-sandbox"}, std::string("pts 3\n\0pts 4\n\0pts 5\n\0", 21)},
        {{"--pts", "none"}, ""},
        {{"--pts", "none", "--no-sandbox"}, ""},
    }));

// A link left (by an earlier TAP run without the sandbox, say) where the
// host side puts the TAP file or an output.
struct Leftover {
    const char *what;
    const char *name;  // in the test folder
    bool hardLink;     // else a symbolic link
};

void PrintTo(const Leftover &c, std::ostream *o) { *o << c.what; }

class SandboxReplaces : public Sandbox, public ::testing::WithParamInterface<Leftover> {};

TEST_P(SandboxReplaces, LeftoverLinkInsteadOfWritingThroughIt) {
    const Leftover &c = GetParam();
    std::string f = testFolder();
    makeDirs(f + "/out");
    std::string outside = f + "/outside.txt", planted = f + "/" + c.name;
    writeFile(outside, "keep");
    ASSERT_EQ(0, c.hardLink ? link(outside.c_str(), planted.c_str()) : symlink(outside.c_str(), planted.c_str()))
        << c.what;
    TapemuResult r = runTapemu(f, {"--disk", f + "/disk", "--out", f + "/out", "--keys", "OK FORWARD EXIT",
                                tapDir + "/Sketch.tap"});
    EXPECT_EQ(0, r.status) << c.what << ": " << r.err;
    struct stat st;
    ASSERT_EQ(0, stat(outside.c_str(), &st));
    EXPECT_EQ(1u, (unsigned)st.st_nlink) << c.what;
    EXPECT_EQ("keep", readFile(outside)) << c.what;
    ASSERT_EQ(0, lstat(planted.c_str(), &st)) << c.what;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << c.what;
    EXPECT_EQ(1u, (unsigned)st.st_nlink) << c.what;
    EXPECT_GT(st.st_size, 0) << c.what;
}

std::vector<Leftover> leftovers() {
    std::vector<Leftover> cases = {
        {"symbolic link as the TAP's copy on the disk", "disk/ProgramFiles/Sketch.tap", false},
        {"hard link as the TAP's copy on the disk", "disk/ProgramFiles/Sketch.tap", true},
        {"symbolic link as trace.txt", "out/trace.txt", false},
        {"hard link as trace.txt", "out/trace.txt", true},
        {"symbolic link as console.bin", "out/console.bin", false},
        {"hard link as console.bin", "out/console.bin", true},
    };
    if (TAPEMU_PICTURES) cases.push_back({"symbolic link as a screen", "out/screen-0002.png", false});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Outputs, SandboxReplaces, ::testing::ValuesIn(leftovers()));

// What tapemu refuses before any TAP runs, in one line.
struct Refusal {
    const char *what;
    std::vector<std::string> args;  // DISK stands for the disk folder, HERE for the test folder
    const char *reason;
};

void PrintTo(const Refusal &c, std::ostream *o) { *o << c.what; }

class SandboxRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(SandboxRefuses, WithOneLineAndNothingWritten) {
    const Refusal &c = GetParam();
    std::string f = testFolder();
    symlink((f + "/disk").c_str(), (f + "/disklink").c_str());
    std::vector<std::string> args;
    for (std::string a : c.args) {
        if (a.rfind("DISK", 0) == 0) a = f + "/disk" + a.substr(4);
        if (a.rfind("HERE", 0) == 0) a = f + a.substr(4);
        args.push_back(a);
    }
    args.push_back(tapDir + "/Sketch.tap");
    TapemuResult r = runTapemu(f, args);
    EXPECT_NE(0, r.status) << c.what;
    EXPECT_EQ(1u, lines(r.err).size()) << c.what << ": " << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.reason)) << c.what << ": " << r.err;
    EXPECT_FALSE(fileExists(f + "/disk/trace.txt")) << c.what;
    EXPECT_FALSE(fileExists(f + "/disk/out")) << c.what;
    EXPECT_FALSE(fileExists(f + "/disk/ProgramFiles/Sketch.tap")) << c.what;
}

const char *const apart = "may not be the same folder or one inside the other";

INSTANTIATE_TEST_SUITE_P(
    Cases, SandboxRefuses,
    ::testing::ValuesIn(std::vector<Refusal>{
        {"output folder is the disk", {"--disk", "DISK", "--out", "DISK"}, apart},
        {"output folder inside the disk", {"--disk", "DISK", "--out", "DISK/out"}, apart},
        {"disk inside the output folder", {"--disk", "DISK", "--out", "HERE"}, apart},
        {"output folder is the disk through a link", {"--disk", "DISK", "--out", "HERE/disklink"}, apart},
        {"output folder inside the disk without the sandbox", {"--no-sandbox", "--disk", "DISK", "--out", "DISK/out"},
         apart},
        {"receiver side started by hand", {"--receiver-side", "3:4:5"}, "tapemu's own"},
    }));

}  // namespace
