// The test fixture: a fresh receiver in the stand-in firmware for every
// test case, with a disk folder and an output folder of its own named
// after the test (build/<preset>/scratch/<Suite>.<Test>/disk and /out),
// another TAP in slot 0 and the test program attached as a TAP after it.
#ifndef TESTS_EMUTEST_H
#define TESTS_EMUTEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/tapemu.h"

class EmuTest : public ::testing::Test {
protected:
    // Starts the firmware with options() and attaches the program as
    // "/ProgramFiles/Test.tap" in "/ProgramFiles" (both exist on the disk).
    void SetUp() override;
    void TearDown() override;

    // Override to change the receiver before it starts.
    virtual void configure(EmuOptions &) {}
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

// Whether tapemu can make its sandbox on this machine (asked once, as
// tapemu --sandbox-check); false with tapemu's one line in *why.
bool sandboxWorks(std::string *why);

// File helpers for fixtures and checks.
std::string readFile(const std::string &path);
bool fileExists(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes);
void makeDirs(const std::string &path);
void removeTree(const std::string &path);

#endif
