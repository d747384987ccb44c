// Loading real TAP files as the firmware does, and the tapemu program:
// its key script, its outputs and the reasons it refuses to run.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dlfcn.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "emutest.h"
#include "velalib.h"

namespace {

const std::string tapDir = TEST_TAP_DIR;

TapTaskEntry *table() {
    void *global = dlopen(nullptr, RTLD_LAZY | RTLD_GLOBAL);
    TapTaskEntry *t = (TapTaskEntry *)dlsym(global, "_tapTask");
    dlclose(global);
    return t;
}

const char *slotPath(int slot) {
    TapWord *record = (TapWord *)table()[slot].File[FILE_OBJECT_PATH_RECORD_WORD];
    return record[0] == PATH_RECORD_MAGIC ? (const char *)record[PATH_RECORD_PATH_WORD] : "";
}

const char *slotDir(int slot) { return (const char *)table()[slot].CurrentDir[CURRENT_DIR_PATH_WORD]; }

bool contains(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// ---- In-process loading ---------------------------------------------------------

using Loader = EmuTest;

TEST_F(Loader, PcFileIsCopiedOntoTheDiskAndStartedInTheNextSlot) {
    char err[256] = "";
    int tap = emuLoadTap((tapDir + "/Sketch.tap").c_str(), err, sizeof err);
    ASSERT_EQ(slot + 1, tap) << err;
    EXPECT_EQ(readFile(tapDir + "/Sketch.tap"), readFile(disk("/ProgramFiles/Sketch.tap")));
    EXPECT_EQ(1, emuSlotRunning(tap));
    EXPECT_EQ((TapWord)TAP_STATE_RUNNING, table()[tap].State);
    EXPECT_STREQ("/mnt/hd/ProgramFiles/Sketch.tap", slotPath(tap));
    EXPECT_STREQ("/mnt/hd/ProgramFiles", slotDir(tap));
    EXPECT_NE(nullptr, table()[tap].EventHandler);
    EXPECT_TRUE(contains(trace(), "LOAD " + std::to_string(tap) + " \"/ProgramFiles/Sketch.tap\" id 0x51525699"));
    EXPECT_TRUE(contains(trace(), "MAIN " + std::to_string(tap) + " -> 1"));
}

TEST_F(Loader, DiskFileKeepsItsPathAndWorksInItsOwnFolder) {
    makeDirs(disk("/ProgramFiles/AutoStart"));
    writeFile(disk("/ProgramFiles/AutoStart/Sketch.tap"), readFile(tapDir + "/Sketch.tap"));
    char err[256] = "";
    int tap = emuLoadTap("/ProgramFiles/AutoStart/Sketch.tap", err, sizeof err);
    ASSERT_GE(tap, 0) << err;
    EXPECT_STREQ("/mnt/hd/ProgramFiles/AutoStart/Sketch.tap", slotPath(tap));
    EXPECT_STREQ("/mnt/hd/ProgramFiles/AutoStart", slotDir(tap));
    EXPECT_FALSE(fileExists(disk("/ProgramFiles/Sketch.tap")));
}

TEST_F(Loader, PcPathIntoTheDiskKeepsTheFilesPlaceOnTheDisk) {
    makeDirs(disk("/ProgramFiles/AutoStart"));
    writeFile(disk("/ProgramFiles/AutoStart/Sketch.tap"), readFile(tapDir + "/Sketch.tap"));
    char err[256] = "";
    int tap = emuLoadTap(disk("/ProgramFiles/AutoStart/Sketch.tap").c_str(), err, sizeof err);
    ASSERT_GE(tap, 0) << err;
    EXPECT_STREQ("/mnt/hd/ProgramFiles/AutoStart/Sketch.tap", slotPath(tap));
    EXPECT_FALSE(fileExists(disk("/ProgramFiles/Sketch.tap")));
}

TEST_F(Loader, SketchDrawsTakesKeysAndExits) {
    char err[256] = "";
    int tap = emuLoadTap((tapDir + "/Sketch.tap").c_str(), err, sizeof err);
    ASSERT_GE(tap, 0) << err;
    EXPECT_EQ(0u, emuDeliver(tap, EVT_IDLE, 0, 0));
    EXPECT_EQ(0xFF202080u, emuOsdPixel(1, 300, 300));
    EXPECT_EQ(0xFFFFFFFFu, emuOsdPixel(1, 101, 300));
    EXPECT_EQ(0u, emuDeliver(tap, EVT_KEY, KEY_OK_REMOTE, 0));
    EXPECT_EQ(0xFF208020u, emuOsdPixel(1, 300, 300));
    EXPECT_EQ(0x10055u, emuDeliver(tap, EVT_KEY, 0x10055, 0));
    EXPECT_EQ(0u, emuDeliver(tap, EVT_KEY, 0x10013, 0));
    EXPECT_EQ(std::string("forward\n\0", 9), console());
    EXPECT_EQ(0u, emuDeliver(tap, EVT_KEY, KEY_EXIT_REMOTE, 0));
    EXPECT_EQ(0, emuSlotRunning(tap));
    EXPECT_EQ(0u, emuOsdPixel(1, 300, 300));  // region deleted
    emuStop();
    EXPECT_EQ("SLOT " + std::to_string(tap) +
                  " \"/ProgramFiles/Sketch.tap\" id 0x51525699 heap 0 dirstack unknown ended by TAP_Exit",
              trace().back());
}

TEST_F(Loader, TwoTapsWithTheSameNamesKeepTheirOwn) {
    char err[256] = "";
    int a = emuLoadTap((tapDir + "/TwinA.tap").c_str(), err, sizeof err);
    int b = emuLoadTap((tapDir + "/TwinB.tap").c_str(), err, sizeof err);
    ASSERT_GE(a, 0) << err;
    ASSERT_GE(b, 0) << err;
    size_t before = trace().size();
    emuDeliver(a, EVT_IDLE, 0, 0);
    emuDeliver(a, EVT_IDLE, 0, 0);
    emuDeliver(b, EVT_IDLE, 0, 0);
    std::vector<std::string> printed;
    for (const std::string &line : traceFrom(before))
        if (line.rfind("TAP_Print", 0) == 0) printed.push_back(line);
    std::vector<std::string> expected = {"TAP_Print \"TwinA 1\\x0A\" -> 8", "TAP_Print \"TwinA 2\\x0A\" -> 8",
                                         "TAP_Print \"TwinB 1\\x0A\" -> 8"};
    EXPECT_EQ(expected, printed);
}

TEST_F(Loader, TapWhoseMainReturnsZeroEnds) {
    char err[256] = "";
    int tap = emuLoadTap((tapDir + "/Quitter.tap").c_str(), err, sizeof err);
    ASSERT_GE(tap, 0) << err;
    EXPECT_EQ(0, emuSlotRunning(tap));
    EXPECT_EQ(0u, table()[tap].State);
}

// ---- The loaded TAP's own copy of its file ------------------------------------

// The files that the process maps, as the kernel lists them.
std::vector<std::string> mappedFiles() {
    std::vector<std::string> files;
    std::istringstream in(readFile("/proc/self/maps"));
    std::string line;
    while (std::getline(in, line)) {
        size_t slash = line.find('/');
        if (slash != std::string::npos && std::find(files.begin(), files.end(), line.substr(slash)) == files.end())
            files.push_back(line.substr(slash));
    }
    return files;
}

std::string realPath(const std::string &path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) ? real : path;
}

bool under(const std::string &path, const std::string &folder) { return path.rfind(folder + "/", 0) == 0; }

// What becomes of Sketch.tap on the disk while it runs.
struct Rewrite {
    const char *what;
    std::function<void(const std::string &file)> apply;
};

void PrintTo(const Rewrite &c, std::ostream *o) { *o << c.what; }

class RewrittenTapFile : public EmuTest, public ::testing::WithParamInterface<Rewrite> {};

TEST_P(RewrittenTapFile, DoesNotReachTheLoadedTap) {
    writeFile(disk("/ProgramFiles/Sketch.tap"), readFile(tapDir + "/Sketch.tap"));
    char err[256] = "";
    int tap = emuLoadTap("/ProgramFiles/Sketch.tap", err, sizeof err);
    ASSERT_GT(tap, slot) << err;
    GetParam().apply(disk("/ProgramFiles/Sketch.tap"));

    EXPECT_EQ(0u, emuDeliver(tap, EVT_IDLE, 0, 0));
    EXPECT_EQ(0u, emuDeliver(tap, EVT_KEY, KEY_OK_REMOTE, 0));
    EXPECT_EQ(0xFF208020u, emuOsdPixel(1, 300, 300)) << GetParam().what;
    EXPECT_EQ(0u, emuDeliver(tap, EVT_KEY, 0x10013, 0));
    EXPECT_EQ(std::string("forward\n\0", 9), console()) << GetParam().what;
    EXPECT_STREQ("/mnt/hd/ProgramFiles/Sketch.tap", slotPath(tap)) << "the path record names the disk's file";
    std::string diskFolder = realPath(diskDir);
    for (const std::string &file : mappedFiles()) EXPECT_FALSE(under(file, diskFolder)) << file << " is mapped";
    EXPECT_EQ(0u, emuDeliver(tap, EVT_KEY, KEY_EXIT_REMOTE, 0));
    emuStop();
    EXPECT_EQ("SLOT " + std::to_string(tap) +
                  " \"/ProgramFiles/Sketch.tap\" id 0x51525699 heap 0 dirstack unknown ended by TAP_Exit",
              trace().back())
        << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Files, RewrittenTapFile,
    ::testing::ValuesIn(std::vector<Rewrite>{
        {"truncated to nothing", [](const std::string &f) { ASSERT_EQ(0, truncate(f.c_str(), 0)); }},
        {"cut in half",
         [](const std::string &f) {
             struct stat st;
             ASSERT_EQ(0, stat(f.c_str(), &st));
             ASSERT_EQ(0, truncate(f.c_str(), st.st_size / 2));
         }},
        {"rewritten in place with another TAP, as cp does",
         [](const std::string &f) {
             std::string other = readFile(tapDir + "/TwinB.tap");
             int fd = open(f.c_str(), O_WRONLY | O_TRUNC);
             ASSERT_GE(fd, 0);
             ASSERT_EQ((ssize_t)other.size(), write(fd, other.data(), other.size()));
             close(fd);
         }},
        {"removed", [](const std::string &f) { ASSERT_EQ(0, unlink(f.c_str())); }},
    }));

TEST_F(Loader, TwoLoadsOfOneFileKeepTheirOwnGlobals) {
    char err[256] = "";
    int a = emuLoadTap((tapDir + "/TwinA.tap").c_str(), err, sizeof err);
    int b = emuLoadTap("/ProgramFiles/TwinA.tap", err, sizeof err);
    ASSERT_GT(a, slot) << err;
    ASSERT_GT(b, a) << err;
    EXPECT_STREQ("/mnt/hd/ProgramFiles/TwinA.tap", slotPath(a));
    EXPECT_STREQ("/mnt/hd/ProgramFiles/TwinA.tap", slotPath(b));
    size_t before = trace().size();
    emuDeliver(a, EVT_IDLE, 0, 0);
    emuDeliver(a, EVT_IDLE, 0, 0);
    emuDeliver(b, EVT_IDLE, 0, 0);
    std::vector<std::string> printed;
    for (const std::string &line : traceFrom(before))
        if (line.rfind("TAP_Print", 0) == 0) printed.push_back(line);
    std::vector<std::string> expected = {"TAP_Print \"TwinA 1\\x0A\" -> 8", "TAP_Print \"TwinA 2\\x0A\" -> 8",
                                         "TAP_Print \"TwinA 1\\x0A\" -> 8"};
    EXPECT_EQ(expected, printed);
    EXPECT_NE(emuTapSymbol(a, "eventCount"), emuTapSymbol(b, "eventCount"));
}

// Where TMPDIR points, and where the private copies must go.
struct CopiesPlace {
    const char *what;
    const char *tmpdir;    // null: unset; "SCRATCH", "DISK", "OUT" stand for this test's folders
    const char *expected;  // the folder the copies go below, with the same stand-ins
};

void PrintTo(const CopiesPlace &c, std::ostream *o) { *o << c.what; }

class CopiesFolder : public EmuTest, public ::testing::WithParamInterface<CopiesPlace> {
protected:
    std::string expand(const char *text) const {
        std::string t = text;
        if (t.rfind("SCRATCH", 0) == 0) return scratch + t.substr(7);
        if (t.rfind("DISK", 0) == 0) return scratch + "/disk" + t.substr(4);
        if (t.rfind("OUT", 0) == 0) return scratch + "/out" + t.substr(3);
        return t;
    }
    void configure(EmuOptions &) override {
        makeDirs(scratch + "/tmp");
        if (GetParam().tmpdir)
            setenv("TMPDIR", expand(GetParam().tmpdir).c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    void TearDown() override {
        EmuTest::TearDown();
        unsetenv("TMPDIR");
    }
};

TEST_P(CopiesFolder, IsPrivateOutsideTheDiskAndGoesWithTheReceiver) {
    const CopiesPlace &c = GetParam();
    char err[256] = "";
    int tap = emuLoadTap((tapDir + "/Sketch.tap").c_str(), err, sizeof err);
    ASSERT_GT(tap, slot) << err;
    std::string copy;
    for (const std::string &file : mappedFiles())
        if (file.size() > 11 && file.compare(file.size() - 11, 11, "-Sketch.tap") == 0) copy = file;
    ASSERT_NE("", copy) << "no copy of Sketch.tap is mapped";
    std::string folder = copy.substr(0, copy.rfind('/'));
    EXPECT_TRUE(under(folder, realPath(expand(c.expected)))) << c.what << ": " << folder;
    EXPECT_EQ(0u, folder.substr(folder.rfind('/') + 1).rfind("tapemu-", 0)) << folder;
    EXPECT_FALSE(under(folder, realPath(diskDir)) || under(folder, realPath(outDir))) << folder;
    struct stat st;
    ASSERT_EQ(0, stat(folder.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777u) << "mkdtemp's folder is the user's own";
    EXPECT_EQ(readFile(tapDir + "/Sketch.tap"), readFile(copy));
    emuStop();
    EXPECT_FALSE(fileExists(folder)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Places, CopiesFolder,
                         ::testing::ValuesIn(std::vector<CopiesPlace>{
                             {"no TMPDIR", nullptr, "/tmp"},
                             {"TMPDIR elsewhere", "SCRATCH/tmp", "SCRATCH/tmp"},
                             {"TMPDIR in the disk", "DISK/ProgramFiles", "/tmp"},
                             {"TMPDIR is the output folder", "OUT", "/tmp"},
                         }));

// The closing summary: what each TAP still holds when it ends.
struct HoldCase {
    const char *name;
    const char *tap;
    std::vector<dword> keys;
    unsigned blocks;       // heap blocks it holds at the end
    const char *dirstack;  // its directory stack's depth at the end
};

void PrintTo(const HoldCase &c, std::ostream *o) { *o << c.name; }

class SlotSummary : public EmuTest, public ::testing::WithParamInterface<HoldCase> {};

TEST_P(SlotSummary, TellsTheHeapBlocksAndDirectoryStackATapLeft) {
    const HoldCase &c = GetParam();
    char err[256] = "";
    int tap = emuLoadTap((tapDir + "/" + c.tap).c_str(), err, sizeof err);
    ASSERT_GT(tap, slot) << err;
    TAP_MemFree(TAP_MemAlloc(8));  // the program's own block, given back
    void *mine = TAP_MemAlloc(8);  // the program's own, held to the end
    unsigned before = emuHeapBlocksInUse();
    for (dword key : c.keys) emuDeliver(tap, EVT_KEY, key, 0);
    EXPECT_EQ(c.blocks, emuSlotHeapBlocks(tap)) << c.name;
    EXPECT_EQ(1u, emuSlotHeapBlocks(slot)) << c.name;
    EXPECT_EQ(0u, emuSlotHeapBlocks(0)) << c.name;
    EXPECT_EQ(before + c.blocks, emuHeapBlocksInUse()) << c.name;
    emuDeliver(tap, EVT_KEY, KEY_EXIT_REMOTE, 0);
    emuStop();
    std::vector<std::string> t = trace();
    ASSERT_GE(t.size(), 3u);
    char id[16];
    snprintf(id, sizeof id, "0x%08X", c.tap == std::string("Sketch.tap") ? 0x51525699u : 0x51525696u);
    std::vector<std::string> summary(t.end() - 3, t.end());
    std::vector<std::string> expected = {
        "SLOT 0 \"/ProgramFiles/Resident.tap\" id 0x00000000 heap 0 dirstack unknown still running at the end",
        "SLOT " + std::to_string(slot) + " \"/ProgramFiles/Test.tap\" id 0x00000000 heap 1 dirstack unknown still running at the end",
        "SLOT " + std::to_string(tap) + " \"/ProgramFiles/" + c.tap + "\" id " + id + " heap " + std::to_string(c.blocks) +
            " dirstack " + c.dirstack + " ended by TAP_Exit",
    };
    EXPECT_EQ(expected, summary) << c.name;
    TAP_MemFree(mine);
}

INSTANTIATE_TEST_SUITE_P(
    Taps, SlotSummary,
    ::testing::ValuesIn(std::vector<HoldCase>{
        {"Nothing", "Stacker.tap", {}, 0, "-1"},
        {"OneOfEach", "Stacker.tap", {KEY_OK_REMOTE}, 1, "0"},
        {"GivenBack", "Stacker.tap", {KEY_OK_REMOTE, KEY_OK_REMOTE, KEY_BACK_REMOTE_2, KEY_BACK_REMOTE_2}, 0, "-1"},
        {"TwoOfThree", "Stacker.tap", {KEY_OK_REMOTE, KEY_OK_REMOTE, KEY_OK_REMOTE, KEY_BACK_REMOTE_2}, 2, "1"},
        {"NoDirectoryStack", "Sketch.tap", {KEY_OK_REMOTE}, 0, "unknown"},
    }),
    [](const ::testing::TestParamInfo<HoldCase> &info) { return info.param.name; });

struct Refusal {
    const char *what;
    const char *file;   // in the TAP folder, or written below
    const char *bytes;  // non-null: written as the file first
    const char *reason;
};

void PrintTo(const Refusal &c, std::ostream *o) { *o << c.what; }

class LoaderRefuses : public EmuTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(LoaderRefuses, FileThatIsNoTap) {
    const Refusal &r = GetParam();
    std::string path = tapDir + "/" + r.file;
    if (r.bytes) {
        path = disk(std::string("/ProgramFiles/") + r.file);
        writeFile(path, r.bytes);
    }
    char err[256] = "";
    EXPECT_EQ(-1, emuLoadTap(path.c_str(), err, sizeof err)) << r.what;
    EXPECT_NE(std::string::npos, std::string(err).find(r.reason)) << r.what << ": " << err;
    for (int s = slot + 1; s < TAP_TASK_SLOTS; s++) EXPECT_EQ(0, emuSlotRunning(s)) << r.what;
}

INSTANTIATE_TEST_SUITE_P(Files, LoaderRefuses,
                         ::testing::ValuesIn(std::vector<Refusal>{
                             {"missing", "Missing.tap", nullptr, "no such TAP file"},
                             {"text file", "text.tap", "just some text, long enough to be looked at\n"
                                                       "................................................",
                              "not an ELF file"},
                             {"short file", "short.tap", "\x7F" "ELF", "not an ELF file"},
                             {"no id", "NoId.tap", nullptr, "no ._tap_id section"},
                             {"no entry point", "NoEntry.tap", nullptr, "no entry point __TAP_Init_"},
                         }));

// A broken copy of Sketch.tap: one field of its ELF header, program
// headers or section table changed, or the file cut short.
struct Damage {
    const char *what;
    std::function<void(std::string &elf)> apply;
};

void PrintTo(const Damage &c, std::ostream *o) { *o << c.what; }

bool wideElf(const std::string &e) { return e[4] == 2; }
// Offset of field (ELF32 offset, ELF64 offset, sizes) of program header type `type`.
size_t segmentField(const std::string &e, unsigned type, size_t off32, size_t off64) {
    bool w = wideElf(e);
    size_t phoff = (size_t)readLe(e, w ? 0x20 : 0x1C, w ? 8 : 4);
    unsigned n = (unsigned)readLe(e, w ? 0x38 : 0x2C, 2), size = w ? 56 : 32;
    for (unsigned i = 0; i < n; i++)
        if (readLe(e, phoff + i * size, 4) == type) return phoff + i * size + (w ? off64 : off32);
    return 0;
}
size_t sectionTable(const std::string &e) { return (size_t)readLe(e, wideElf(e) ? 0x28 : 0x20, wideElf(e) ? 8 : 4); }

class LoaderRefusesDamaged : public EmuTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(LoaderRefusesDamaged, WithAReasonAndWithoutCrashing) {
    std::string elf = readFile(tapDir + "/Sketch.tap");
    ASSERT_GT(elf.size(), 1000u);
    GetParam().apply(elf);
    std::string path = disk("/ProgramFiles/Damaged.tap");
    writeFile(path, elf);
    char err[256] = "";
    EXPECT_EQ(-1, emuLoadTap("/ProgramFiles/Damaged.tap", err, sizeof err)) << GetParam().what;
    EXPECT_NE(std::string::npos, std::string(err).find("Damaged.tap: ")) << GetParam().what << ": " << err;
    for (int s = slot + 1; s < TAP_TASK_SLOTS; s++) EXPECT_EQ(0, emuSlotRunning(s)) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoaderRefusesDamaged,
    ::testing::ValuesIn(std::vector<Damage>{
        {"cut after the ELF header", [](std::string &e) { e.resize(64); }},
        {"cut in half", [](std::string &e) { e.resize(e.size() / 2); }},
        {"cut by one byte", [](std::string &e) { e.resize(e.size() - 1); }},
        {"section table beyond the file",
         [](std::string &e) { writeLe(e, wideElf(e) ? 0x28 : 0x20, wideElf(e) ? 8 : 4, e.size() + 16); }},
        {"section count beyond the file", [](std::string &e) { writeLe(e, wideElf(e) ? 0x3C : 0x30, 2, 0xFFFF); }},
        {"name table index beyond the sections",
         [](std::string &e) { writeLe(e, wideElf(e) ? 0x3E : 0x32, 2, 0xFFF0); }},
        {"name offsets beyond the name table",
         [](std::string &e) {
             bool w = wideElf(e);
             unsigned n = (unsigned)readLe(e, w ? 0x3C : 0x30, 2), size = w ? 64 : 40;
             for (unsigned i = 0; i < n; i++) writeLe(e, sectionTable(e) + i * size, 4, 0xFFFFFFF0u + (i & 7));
         }},
        {"name table beyond the file",
         [](std::string &e) {
             bool w = wideElf(e);
             unsigned names = (unsigned)readLe(e, w ? 0x3E : 0x32, 2), size = w ? 64 : 40;
             writeLe(e, sectionTable(e) + names * size + (w ? 0x18 : 0x10), w ? 8 : 4, 0x7FFFFFF0u);
         }},
        {"program headers beyond the file",
         [](std::string &e) { writeLe(e, wideElf(e) ? 0x20 : 0x1C, wideElf(e) ? 8 : 4, e.size() + 100); }},
        {"dynamic segment beyond the file",
         [](std::string &e) { writeLe(e, segmentField(e, 2, 4, 8), wideElf(e) ? 8 : 4, e.size() + 0x10000); }},
        {"loadable segment longer than the file",
         [](std::string &e) { writeLe(e, segmentField(e, 1, 16, 32), wideElf(e) ? 8 : 4, 0x7FFFFFF0u); }},
    }));

// ---- The tapemu program -------------------------------------------------------------

// tapemu runs its TAPs in the sandbox: where the machine cannot make it,
// these tests are skipped with tapemu's reason.
class Tapemu : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!sandboxWorks(&why)) GTEST_SKIP() << why;
    }
};

TEST_F(Tapemu, KeyScriptRunsAndLeavesTraceConsoleAndSummary) {
    std::string f = testFolder();
    TapemuResult r = runTapemu(f, {"--disk", f + "/disk", "--out", f + "/out", "--keys", "IDLE OK FORWARD 0x10055 EXIT",
                          "--time", "2016-02-29 13:05:09", tapDir + "/Sketch.tap"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find(f + "/out/trace.txt")) << r.out;
    std::vector<std::string> t = lines(readFile(f + "/out/trace.txt"));
    std::vector<std::string> events;
    for (const std::string &line : t)
        if (line.rfind("EVENT", 0) == 0) events.push_back(line);
    std::vector<std::string> expected = {
        "EVENT 0 0x0 0x0 0x0 -> 0x0",           "EVENT 0 0x0 0x0 0x0 -> 0x0",
        "EVENT 0 0x100 0x1001E 0x0 -> 0x0",     "EVENT 0 0x100 0x10013 0x0 -> 0x0",
        "EVENT 0 0x100 0x10055 0x0 -> 0x10055", "EVENT 0 0x100 0x10017 0x0 -> 0x0",
    };
    EXPECT_EQ(expected, events);  // after the TAP ended, the closing idle events reach nobody
    EXPECT_EQ("SLOT 0 \"/ProgramFiles/Sketch.tap\" id 0x51525699 heap 0 dirstack unknown ended by TAP_Exit", t.back());
    EXPECT_EQ(std::string("forward\n\0", 9), readFile(f + "/out/console.bin"));
    EXPECT_TRUE(fileExists(f + "/disk/ProgramFiles/Sketch.tap"));
    // one picture per TAP_Osd_Sync on the PC build, none on the receiver build
    EXPECT_EQ(TAPEMU_PICTURES == 1, fileExists(f + "/out/screen-0003.png"));
    EXPECT_FALSE(fileExists(f + "/out/screen-0004.png"));
}

TEST_F(Tapemu, AutostartStartsTheFolderInNameOrderBeforeTheNamedTaps) {
    std::string f = testFolder();
    makeDirs(f + "/disk/ProgramFiles/AutoStart");
    writeFile(f + "/disk/ProgramFiles/AutoStart/TwinB.tap", readFile(tapDir + "/TwinB.tap"));
    writeFile(f + "/disk/ProgramFiles/AutoStart/Sketch.tap", readFile(tapDir + "/Sketch.tap"));
    writeFile(f + "/disk/ProgramFiles/AutoStart/notes.txt", "not a TAP");
    TapemuResult r = runTapemu(f, {"--disk", f + "/disk", "--out", f + "/out", "--autostart", "--keys", "EXIT",
                          tapDir + "/TwinA.tap"});
    ASSERT_EQ(0, r.status) << r.err;
    std::vector<std::string> loads;
    for (const std::string &line : lines(readFile(f + "/out/trace.txt")))
        if (line.rfind("LOAD", 0) == 0) loads.push_back(line);
    std::vector<std::string> expected = {
        "LOAD 0 \"/ProgramFiles/AutoStart/Sketch.tap\" id 0x51525699",
        "LOAD 1 \"/ProgramFiles/AutoStart/TwinB.tap\" id 0x51525602",
        "LOAD 2 \"/ProgramFiles/TwinA.tap\" id 0x51525601",
    };
    EXPECT_EQ(expected, loads);
}

// The firmware's conventions as the command line chooses them, seen by a
// TAP through the support library, and what it holds in the summary.
TEST_F(Tapemu, ChangeDirStatusAndRecordFormReachTheFirmware) {
    std::string f = testFolder();
    TapemuResult r = runTapemu(f, {"--disk", f + "/disk", "--out", f + "/out", "--chdir-status", "7,-9", "--cwd-form",
                                "slash", "--keys", "FORWARD OK FORWARD BACK FORWARD OK EXIT", tapDir + "/Stacker.tap"});
    ASSERT_EQ(0, r.status) << r.err;
    std::vector<std::string> t = lines(readFile(f + "/out/trace.txt"));
    std::vector<std::string> seen;
    for (const std::string &line : t)
        if (line.rfind("TAP_Print", 0) == 0 || line.rfind("TAP_Hdd_ChangeDir", 0) == 0) seen.push_back(line);
    std::vector<std::string> expected = {
        "TAP_Print \"dir /ProgramFiles/\\x0A\" -> 19",
        "TAP_Hdd_ChangeDir \"/\" -> 7",
        "TAP_Print \"dir /\\x0A\" -> 6",
        // the library's first change learns the firmware's answer by a change into /ProgramFiles and back
        "TAP_Hdd_ChangeDir \"/ProgramFiles\" -> 7",
        "TAP_Hdd_ChangeDir \"/\" -> 7",
        "TAP_Hdd_ChangeDir \"/ProgramFiles/\" -> 7",
        "TAP_Print \"dir /ProgramFiles/\\x0A\" -> 19",
        "TAP_Hdd_ChangeDir \"/\" -> 7",
    };
    EXPECT_EQ(expected, seen);
    EXPECT_EQ("SLOT 0 \"/ProgramFiles/Stacker.tap\" id 0x51525696 heap 1 dirstack 0 ended by TAP_Exit", t.back());
}

TEST_F(Tapemu, LanguageAndFirstTerminalOptionsReachTheFirmware) {
    std::string f = testFolder();
    TapemuResult r = runTapemu(f, {"--disk", f + "/disk", "--out", f + "/out", "--pts", "none", "--keys", "FORWARD",
                          "--language", "2", tapDir + "/Sketch.tap"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", readFile(f + "/out/console.bin"));
}

struct BadRun {
    const char *what;
    std::vector<std::string> args;  // DISK, OUT and TAPS stand for the folders
    const char *reason;
    bool inSandbox = false;  // the receiver side gives the reason
};

void PrintTo(const BadRun &c, std::ostream *o) { *o << c.what; }

class TapemuRefuses : public ::testing::TestWithParam<BadRun> {};

TEST_P(TapemuRefuses, WithOneLineOnStderr) {
    std::string why;
    if (GetParam().inSandbox && !sandboxWorks(&why)) GTEST_SKIP() << why;
    std::string f = testFolder();
    writeFile(f + "/disk/ProgramFiles/text.tap", std::string(100, 'x'));
    std::vector<std::string> args;
    for (std::string a : GetParam().args) {
        if (a.rfind("DISK", 0) == 0) a = f + "/disk" + a.substr(4);
        if (a.rfind("OUT", 0) == 0) a = f + "/out" + a.substr(3);
        if (a.rfind("TAPS", 0) == 0) a = tapDir + a.substr(4);
        args.push_back(a);
    }
    TapemuResult r = runTapemu(f, args);
    EXPECT_NE(0, r.status) << GetParam().what;
    EXPECT_EQ(1u, lines(r.err).size()) << GetParam().what << ": " << r.err;
    EXPECT_NE(std::string::npos, r.err.find(GetParam().reason)) << GetParam().what << ": " << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TapemuRefuses,
    ::testing::ValuesIn(std::vector<BadRun>{
        {"missing TAP", {"--disk", "DISK", "--out", "OUT", "/ProgramFiles/Nope.tap"}, "no such TAP file", true},
        {"not ELF", {"--disk", "DISK", "--out", "OUT", "/ProgramFiles/text.tap"}, "not an ELF file", true},
        {"no ._tap_id", {"--disk", "DISK", "--out", "OUT", "TAPS/NoId.tap"}, "no ._tap_id section", true},
        {"no entry point", {"--disk", "DISK", "--out", "OUT", "TAPS/NoEntry.tap"}, "no entry point", true},
        {"missing disk", {"--disk", "DISK/../nodisk", "--out", "OUT", "TAPS/Sketch.tap"}, "does not exist"},
        {"unknown key", {"--disk", "DISK", "--out", "OUT", "--keys", "OK JUMP", "TAPS/Sketch.tap"},
         "unknown key JUMP"},
        {"bad option", {"--disk", "DISK", "--out", "OUT", "--frobnicate", "TAPS/Sketch.tap"}, "unknown option"},
        {"bad time", {"--disk", "DISK", "--out", "OUT", "--time", "2016-02-30x", "TAPS/Sketch.tap"}, "bad time"},
        {"no TAP", {"--disk", "DISK", "--out", "OUT"}, "no TAP given"},
        {"option without value", {"--disk", "DISK", "--out"}, "needs a value"},
        {"one chdir status", {"--disk", "DISK", "--out", "OUT", "--chdir-status", "0", "TAPS/Sketch.tap"},
         "bad chdir status"},
        {"equal chdir statuses", {"--disk", "DISK", "--out", "OUT", "--chdir-status", "1,1", "TAPS/Sketch.tap"},
         "bad chdir status"},
        {"chdir status no number", {"--disk", "DISK", "--out", "OUT", "--chdir-status", "ok,2", "TAPS/Sketch.tap"},
         "bad chdir status"},
        {"unknown record form", {"--disk", "DISK", "--out", "OUT", "--cwd-form", "both", "TAPS/Sketch.tap"},
         "bad working-directory form"},
    }));

}  // namespace
