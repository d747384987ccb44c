// The test fixture: a fresh receiver in the stand-in firmware for every
// test case, with a disk folder and an output folder of its own named
// after the test (build/<preset>/scratch/<Suite>.<Test>/disk and /out),
// another TAP in slot 0 and the test program attached as a TAP after it.
#ifndef TESTS_EMUTEST_H
#define TESTS_EMUTEST_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "emulator/tapemu.h"

// A firmware convention that the library must not lean on: what
// TAP_Hdd_ChangeDir answers for a change it made and for one it refused,
// and whether the firmware's working-directory record ends with "/"
// ("/mnt/hd/", "/mnt/hd/ProgramFiles/") or not ("/mnt/hd",
// "/mnt/hd/ProgramFiles").
struct FirmwareConvention {
    const char *name;
    int chdirOk, chdirFail;
    int cwdSlash;
};
void PrintTo(const FirmwareConvention &c, std::ostream *os);

// The conventions that the tests of the directory functions run under:
// success 0 and failure -1 with plain records (the stand-in's default, so
// that taking "non-zero" for success is wrong both ways), and success 1
// and failure 0 with records that end with "/".
extern const std::vector<FirmwareConvention> kConventions;

class EmuTest : public ::testing::Test {
protected:
    // Starts the firmware with options() and attaches the program as
    // "/ProgramFiles/Test.tap" in "/ProgramFiles" (both exist on the disk).
    void SetUp() override;
    void TearDown() override;

    // Override to change the receiver before it starts.
    virtual void configure(EmuOptions &) {}
    // Override to put files on the disk before the receiver starts (the
    // program's own file "/ProgramFiles/Test.tap" among them: its TAP ID
    // is read when it is attached).
    virtual void prepareDisk() {}
    // The firmware convention the receiver follows (applied before
    // configure); null: the stand-in's defaults.
    virtual const FirmwareConvention *convention() const { return nullptr; }

    // What TAP_Hdd_ChangeDir answers for a change it made or refused.
    int chdirOk() const { return options.chdirOk; }
    int chdirFail() const { return options.chdirFail; }
    // Its trace line for a path as the trace quotes it ("/x/\\xDD/").
    std::string changeDirLine(const std::string &quotedPath, bool worked) const;
    // A TAP-view directory ("/ProgramFiles", "/") as the firmware's record
    // gives it to the TAP: with a final "/" when the records have one.
    std::string recorded(const std::string &tapDir) const;
    // Override to give the attached program an event handler.
    virtual EmuEventHandler handler() { return nullptr; }

    // Host path of a firmware path on the disk: disk("/ProgramFiles/x").
    std::string disk(const std::string &firmwarePath) const;
    // Host path of a file in the output folder.
    std::string out(const std::string &name) const;

    // trace.txt as lines; traceFrom(n) the lines from index n on.
    std::vector<std::string> trace() const;
    std::vector<std::string> traceFrom(size_t first) const;
    // console.bin, zero bytes included.
    std::string console() const;

    std::string scratch;  // this test's own folder
    std::string diskDir, outDir;
    int slot = -1;        // the program's slot
    EmuOptions options{};
};

// A fixture under every firmware convention; the convention is the
// test's parameter.
template <class Fixture>
class EachConvention : public Fixture, public ::testing::WithParamInterface<FirmwareConvention> {
protected:
    const FirmwareConvention *convention() const override { return &this->GetParam(); }
};

// A table of cases, each under every firmware convention: the parameter
// is the pair, param() the case.
template <class Fixture, class Case>
class CasesEachConvention : public Fixture,
                            public ::testing::WithParamInterface<std::tuple<Case, FirmwareConvention>> {
protected:
    const FirmwareConvention *convention() const override { return &std::get<1>(this->GetParam()); }
    static const Case &param() { return std::get<0>(CasesEachConvention::GetParam()); }
};

// Test names: the convention's, or the case's name and the convention's.
std::string conventionName(const ::testing::TestParamInfo<FirmwareConvention> &info);
template <class Case>
std::string caseConventionName(const ::testing::TestParamInfo<std::tuple<Case, FirmwareConvention>> &info) {
    return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
}

// The values for INSTANTIATE_TEST_SUITE_P: every convention, or every case
// under every convention.
#define EACH_CONVENTION ::testing::ValuesIn(kConventions), conventionName
#define CASES_EACH_CONVENTION(cases, Case) \
    ::testing::Combine(::testing::ValuesIn(cases), ::testing::ValuesIn(kConventions)), caseConventionName<Case>

// Whether tapemu can make its sandbox on this machine (asked once, as
// tapemu --sandbox-check); false with tapemu's one line in *why.
bool sandboxWorks(std::string *why);

// tapemu as a user runs it: tapemuMain in a child process of its own
// (fresh firmware state), stdout and stderr captured in folder/stdout.txt
// and folder/stderr.txt.  status -1: tapemu itself died.  inChild, when
// given, runs in the child first (to set its environment, say).
struct TapemuResult {
    int status;
    std::string out, err;
};
TapemuResult runTapemu(const std::string &folder, std::vector<std::string> args,
                       const std::function<void()> &inChild = nullptr);

// A fresh folder for the running test case under TEST_SCRATCH_DIR, named
// after it, with an empty disk/ProgramFiles inside.
std::string testFolder();

// The lines of a text, without their newlines.
std::vector<std::string> lines(const std::string &text);

// The little-endian value of n bytes at offset at of b (an ELF file's
// fields on both builds), and the same written back.
unsigned long long readLe(const std::string &b, size_t at, int n);
void writeLe(std::string &b, size_t at, int n, unsigned long long v);

// File helpers for fixtures and checks.
std::string readFile(const std::string &path);
bool fileExists(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes);
void makeDirs(const std::string &path);
void removeTree(const std::string &path);

#endif
