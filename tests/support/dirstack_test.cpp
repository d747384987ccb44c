// The TAP's working directory: reading it, changing it by a path of any
// kind (with the second try in UTF-8 on UTF-8 firmware), and saving and
// restoring it on the directory stack, on a real disk folder.  Every test
// case is one life of the TAP, so the first change of directory in it is
// the first of the TAP's life.
#include <unistd.h>

#include <cstring>
#include <string>

#include "emutest.h"
#include "support/velalib.h"

namespace {

std::string workDir() {
    char dir[PATH_BUFFER_SIZE] = "";
    HDD_TAP_GetCurrentDir(dir);
    return dir;
}

std::vector<std::string> changeDirLines(const std::vector<std::string> &lines) {
    std::vector<std::string> calls;
    for (const std::string &line : lines)
        if (line.rfind("TAP_Hdd_ChangeDir ", 0) == 0) calls.push_back(line);
    return calls;
}

class DirFixture : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        makeDirs(disk("/ProgramFiles/Settings/Logs"));
        writeFile(disk("/ProgramFiles/Zephyrdesk.tap"), "tap");
        for (int i = 0; i < 17; i++) makeDirs(disk("/ProgramFiles/D" + std::to_string(i)));
    }
};

// ---- HDD_TAP_GetCurrentDir ----------------------------------------------

struct CurrentDirCase {
    const char *name;
    const char *change;
    const char *expected;  // as a plain record gives it
    const char *slashed;   // as a record with a final "/" gives it
};

void PrintTo(const CurrentDirCase &c, std::ostream *os) { *os << c.change; }

const CurrentDirCase kCurrentDirs[] = {
    {"ProgramFiles", "/ProgramFiles", "/ProgramFiles", "/ProgramFiles/"},
    {"LogFolder", "/ProgramFiles/Settings/Logs", "/ProgramFiles/Settings/Logs", "/ProgramFiles/Settings/Logs/"},
    {"Relative", "Settings", "/ProgramFiles/Settings", "/ProgramFiles/Settings/"},
    {"DiskRoot", "/", "/", "/"},
};

class HDD_TAP_GetCurrentDirTable : public CasesEachConvention<DirFixture, CurrentDirCase> {};

TEST_P(HDD_TAP_GetCurrentDirTable, GivesTheDirectoryInTheTapView) {
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir(param().change));
    char dir[PATH_BUFFER_SIZE];
    memset(dir, 'Z', sizeof dir);
    EXPECT_EQ(0, HDD_TAP_GetCurrentDir(dir));
    EXPECT_STREQ(options.cwdSlash ? param().slashed : param().expected, dir) << "after changing to " << param().change;
}

INSTANTIATE_TEST_SUITE_P(DirStack, HDD_TAP_GetCurrentDirTable, CASES_EACH_CONVENTION(kCurrentDirs, CurrentDirCase));

class HDD_TAP_GetCurrentDirTest : public EachConvention<DirFixture> {};

TEST_P(HDD_TAP_GetCurrentDirTest, LearnsTheTapsSlotFromTheFirmware) {
    ASSERT_EQ(-1, TAP_TableIndex);
    ASSERT_NE(0, slot) << "another TAP holds slot 0";
    EXPECT_EQ(0, HDD_TAP_GetCurrentDir(nullptr));
    EXPECT_EQ(slot, TAP_TableIndex);
}

INSTANTIATE_TEST_SUITE_P(DirStack, HDD_TAP_GetCurrentDirTest, EACH_CONVENTION);

// The firmware's records that lead to the working directory, broken one at
// a time; the firmware's values are put back before the receiver stops.
struct DirRecordFault {
    const char *name;
    void (*apply)(TapTaskEntry &own, TapWord &saved);
    void (*undo)(TapTaskEntry &own, TapWord saved);
    const char *hiddenSymbol;  // or null
    int result;
    const char *written;       // destination afterwards ("unset": left alone)
};

void PrintTo(const DirRecordFault &f, std::ostream *os) { *os << f.name; }

const char kOtherDisk[] = "/mnt/hdd/ProgramFiles";
const char kMountPoint[] = "/mnt/hd";
const char kMountPointSlashed[] = "/mnt/hd/";
const char kSlashedDir[] = "/mnt/hd/ProgramFiles/Settings/";

void noChange(TapTaskEntry &, TapWord &) {}
void noUndo(TapTaskEntry &, TapWord) {}
void setDirText(TapTaskEntry &e, TapWord &saved, const char *text) {
    saved = e.CurrentDir[CURRENT_DIR_PATH_WORD];
    e.CurrentDir[CURRENT_DIR_PATH_WORD] = (TapWord)text;
}
void restoreDirText(TapTaskEntry &e, TapWord saved) { e.CurrentDir[CURRENT_DIR_PATH_WORD] = saved; }

const DirRecordFault kDirRecordFaults[] = {
    {"NoCurrentSlotVariable", noChange, noUndo, "_curTapTask", -3, "unset"},
    {"NoTaskTable", noChange, noUndo, "_tapTask", -3, ""},
    {"NoDirectoryObject",
     [](TapTaskEntry &e, TapWord &saved) { saved = (TapWord)e.CurrentDir; e.CurrentDir = nullptr; },
     [](TapTaskEntry &e, TapWord saved) { e.CurrentDir = (TapWord *)saved; }, nullptr, 0, "unset"},
    {"NoDirectoryText", [](TapTaskEntry &e, TapWord &saved) { setDirText(e, saved, nullptr); }, restoreDirText,
     nullptr, 0, "unset"},
    {"DirectoryOnAnotherDisk", [](TapTaskEntry &e, TapWord &saved) { setDirText(e, saved, kOtherDisk); },
     restoreDirText, nullptr, 0, ""},
    {"MountPointItself", [](TapTaskEntry &e, TapWord &saved) { setDirText(e, saved, kMountPoint); },
     restoreDirText, nullptr, 0, "/"},
    {"MountPointWithSlash", [](TapTaskEntry &e, TapWord &saved) { setDirText(e, saved, kMountPointSlashed); },
     restoreDirText, nullptr, 0, "/"},
    {"DirectoryWithSlash", [](TapTaskEntry &e, TapWord &saved) { setDirText(e, saved, kSlashedDir); },
     restoreDirText, nullptr, 0, "/ProgramFiles/Settings/"},
};

class HDD_TAP_GetCurrentDirFault : public DirFixture, public ::testing::WithParamInterface<DirRecordFault> {};

// What the TAP can tell of its working directory when the firmware's
// records are missing or odd, and that such a directory is never pushed
// (except the disk root, which is a directory like any other).
TEST_P(HDD_TAP_GetCurrentDirFault, ReportsAndPushesOnlyWhatItKnows) {
    const DirRecordFault &f = GetParam();
    // Reached past the library's cache, which must not hold it yet.
    TapTaskEntry *table = (TapTaskEntry *)TryResolve("_tapTask");
    ASSERT_NE(nullptr, table);
    if (f.hiddenSymbol) emuHideSymbol(f.hiddenSymbol, 1);
    TapWord saved = 0;
    f.apply(table[slot], saved);

    char dir[PATH_BUFFER_SIZE] = "unset";
    int result = HDD_TAP_GetCurrentDir(dir);
    int pushed = HDD_TAP_PushDir();
    int depth = TAPDirStackDepth;

    f.undo(table[slot], saved);
    if (f.hiddenSymbol) emuHideSymbol(f.hiddenSymbol, 0);
    EXPECT_EQ(f.result, result) << f.name;
    EXPECT_STREQ(f.written, dir) << f.name;
    bool known = f.written[0] == '/';
    EXPECT_EQ(known ? 1 : 0, pushed) << f.name;
    EXPECT_EQ(known ? 0 : -1, depth) << f.name;
}

INSTANTIATE_TEST_SUITE_P(DirStack, HDD_TAP_GetCurrentDirFault, ::testing::ValuesIn(kDirRecordFaults),
                         [](const ::testing::TestParamInfo<DirRecordFault> &info) { return info.param.name; });

// ---- HDD_TAP_PushDir and HDD_TAP_PopDir ---------------------------------

class HDD_TAP_PushDirTest : public EachConvention<DirFixture> {};
INSTANTIATE_TEST_SUITE_P(DirStack, HDD_TAP_PushDirTest, EACH_CONVENTION);

TEST_P(HDD_TAP_PushDirTest, SixteenPushesSucceedAndTheSeventeenthChangesNothing) {
    for (int i = 0; i < 16; i++) {
        std::string dir = "/ProgramFiles/D" + std::to_string(i);
        ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir(dir.c_str()));
        ASSERT_EQ(1, HDD_TAP_PushDir()) << "push " << i + 1;
        EXPECT_EQ(i, TAPDirStackDepth);
        EXPECT_EQ(recorded(dir), TAPDirStack[i]);
    }
    char before[DIR_STACK_DEPTH][DIR_STACK_ENTRY];
    memcpy(before, TAPDirStack, sizeof before);

    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/ProgramFiles/D16"));
    EXPECT_EQ(0, HDD_TAP_PushDir());
    EXPECT_EQ(15, TAPDirStackDepth);
    EXPECT_EQ(0, memcmp(before, TAPDirStack, sizeof before));
    EXPECT_EQ(recorded("/ProgramFiles/D16"), workDir());
}

TEST_P(HDD_TAP_PushDirTest, RefusesADirectoryLongerThanAnEntry) {
    std::string dir = "/ProgramFiles";
    while (dir.size() < DIR_STACK_ENTRY) dir += "/" + std::string(40, 'x');
    makeDirs(disk(dir));
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir(dir.c_str()));
    ASSERT_EQ(recorded(dir), workDir());

    EXPECT_EQ(0, HDD_TAP_PushDir());
    EXPECT_EQ(-1, TAPDirStackDepth);
    EXPECT_EQ(0, HDD_TAP_PopDir());
    EXPECT_EQ(recorded(dir), workDir());
}

// A TAP-view directory below /ProgramFiles of exactly length characters,
// made on the disk.
std::string makeLongDir(const std::string &diskDir, size_t length) {
    std::string dir = "/ProgramFiles";
    while (dir.size() < length) {
        size_t rest = length - dir.size();
        size_t take = rest <= 201 ? rest : (rest - 201 >= 2 ? 201 : 150);
        dir += "/" + std::string(take - 1, 'x');
    }
    makeDirs(diskDir + dir);
    return dir;
}

struct LongDirCase {
    const char *name;
    size_t length;
    bool readable;  // HDD_TAP_GetCurrentDir gives it whole
    bool pushed;
};

void PrintTo(const LongDirCase &c, std::ostream *os) { *os << c.length << " characters"; }

const LongDirCase kLongDirs[] = {
    {"FillsAStackEntry", DIR_STACK_ENTRY - 1, true, true},
    {"OneMoreThanAStackEntry", DIR_STACK_ENTRY, true, false},
    {"FillsAPathBuffer", PATH_BUFFER_SIZE - 1, true, false},
    {"OneMoreThanAPathBuffer", PATH_BUFFER_SIZE, false, false},
};

class LongWorkingDirectory : public CasesEachConvention<DirFixture, LongDirCase> {};

// length counts the directory as the firmware's record gives it.
TEST_P(LongWorkingDirectory, IsReadAndPushedOnlyWhenItFits) {
    const LongDirCase &c = param();
    std::string made = makeLongDir(diskDir, c.length - (options.cwdSlash ? 1 : 0));
    std::string dir = recorded(made);
    ASSERT_EQ(c.length, dir.size());
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir(made.c_str()));

    char read[PATH_BUFFER_SIZE + 16];
    memset(read, 'Z', sizeof read);
    EXPECT_EQ(0, HDD_TAP_GetCurrentDir(read)) << c.name;
    EXPECT_EQ(c.readable ? dir : "", std::string(read)) << c.name;
    for (size_t i = PATH_BUFFER_SIZE; i < sizeof read; i++) ASSERT_EQ('Z', read[i]) << c.name << ": byte " << i;

    char stackBefore[DIR_STACK_DEPTH][DIR_STACK_ENTRY];
    memcpy(stackBefore, TAPDirStack, sizeof stackBefore);
    EXPECT_EQ(c.pushed ? 1 : 0, HDD_TAP_PushDir()) << c.name;
    EXPECT_EQ(c.pushed ? 0 : -1, TAPDirStackDepth) << c.name;
    if (!c.pushed) {
        EXPECT_EQ(0, memcmp(stackBefore, TAPDirStack, sizeof stackBefore)) << c.name << ": stack written";
        return;
    }
    EXPECT_EQ(dir, std::string(TAPDirStack[0])) << c.name;
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/ProgramFiles/Settings"));
    EXPECT_EQ(1, HDD_TAP_PopDir()) << c.name;
    EXPECT_EQ(dir, workDir()) << c.name;
}

INSTANTIATE_TEST_SUITE_P(DirStack, LongWorkingDirectory, CASES_EACH_CONVENTION(kLongDirs, LongDirCase));

class HDD_TAP_PopDirTest : public EachConvention<DirFixture> {};
INSTANTIATE_TEST_SUITE_P(DirStack, HDD_TAP_PopDirTest, EACH_CONVENTION);

TEST_P(HDD_TAP_PopDirTest, SixteenPopsComeBackInReverseOrder) {
    for (int i = 0; i < 16; i++) {
        ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir(("/ProgramFiles/D" + std::to_string(i)).c_str()));
        ASSERT_EQ(1, HDD_TAP_PushDir());
    }
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/ProgramFiles/Settings"));
    for (int i = 15; i >= 0; i--) {
        EXPECT_EQ(1, HDD_TAP_PopDir()) << "pop to D" << i;
        EXPECT_EQ(recorded("/ProgramFiles/D" + std::to_string(i)), workDir());
        EXPECT_EQ(i - 1, TAPDirStackDepth);
    }
    EXPECT_EQ(0, HDD_TAP_PopDir());
    EXPECT_EQ(recorded("/ProgramFiles/D0"), workDir());
}

TEST_P(HDD_TAP_PopDirTest, FirstPopOfTheTapsLifeReturnsToThePushedDirectory) {
    ASSERT_EQ(1, HDD_TAP_PushDir());
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/ProgramFiles/Settings/Logs"));
    size_t traced = trace().size();

    EXPECT_EQ(1, HDD_TAP_PopDir());
    EXPECT_EQ(recorded("/ProgramFiles"), workDir());
    EXPECT_EQ(-1, TAPDirStackDepth);
    // The first change of the TAP's life learns the firmware's answer by
    // going into /ProgramFiles and back before it changes.
    std::vector<std::string> expected = {
        changeDirLine("/ProgramFiles", true),
        changeDirLine("/ProgramFiles/Settings/Logs/", true),
        changeDirLine("/ProgramFiles/", true),
    };
    EXPECT_EQ(expected, changeDirLines(traceFrom(traced)));
}

TEST_P(HDD_TAP_PopDirTest, LaterPopsChangeOnce) {
    ASSERT_EQ(1, HDD_TAP_PushDir());
    ASSERT_EQ(1, HDD_TAP_PopDir());
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/ProgramFiles/Settings"));
    ASSERT_EQ(1, HDD_TAP_PushDir());
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/ProgramFiles/D3"));
    size_t traced = trace().size();

    EXPECT_EQ(1, HDD_TAP_PopDir());
    EXPECT_EQ(recorded("/ProgramFiles/Settings"), workDir());
    std::vector<std::string> expected = {changeDirLine("/ProgramFiles/Settings/", true)};
    EXPECT_EQ(expected, changeDirLines(traceFrom(traced)));
}

TEST_P(HDD_TAP_PopDirTest, EmptyStackLeavesTheDirectory) {
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/ProgramFiles/Settings"));
    size_t traced = trace().size();
    EXPECT_EQ(0, HDD_TAP_PopDir());
    EXPECT_EQ(recorded("/ProgramFiles/Settings"), workDir());
    EXPECT_TRUE(changeDirLines(traceFrom(traced)).empty());
}

TEST_P(HDD_TAP_PopDirTest, PopsTheEntryEvenWhenTheDirectoryIsGone) {
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/ProgramFiles/D1"));
    ASSERT_EQ(1, HDD_TAP_PushDir());
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/ProgramFiles/Settings"));
    ASSERT_EQ(0, rmdir(disk("/ProgramFiles/D1").c_str()));

    EXPECT_EQ(0, HDD_TAP_PopDir());
    EXPECT_EQ(-1, TAPDirStackDepth);
    EXPECT_EQ(recorded("/ProgramFiles/Settings"), workDir());
}

// ---- HDD_ChangeDir ------------------------------------------------------

// A call of TAP_Hdd_ChangeDir: its path as the trace quotes it, and
// whether the firmware made the change.
struct ChangeCall {
    std::string path;
    bool worked;
};

struct ChangeCase {
    const char *name;
    bool utf8Firmware;
    std::string path;
    int result;
    const char *after;            // working directory afterwards
    std::vector<ChangeCall> calls; // the firmware calls after the first one's probe
};

void PrintTo(const ChangeCase &c, std::ostream *os) { *os << c.name; }

const std::string kLong(600, 'l');

const ChangeCase kChanges[] = {
    {"AbsoluteTapDir", false, "/ProgramFiles/Settings", 1, "/ProgramFiles/Settings",
     {{"/ProgramFiles/Settings/", true}}},
    {"RelativeTapDir", false, "Settings/Logs", 1, "/ProgramFiles/Settings/Logs",
     {{"Settings/Logs/", true}}},
    {"FolderName", false, "Settings", 1, "/ProgramFiles/Settings",
     {{"Settings/", true}}},
    {"LinuxDir", false, "/mnt/hd/ProgramFiles/Settings/Logs", 1, "/ProgramFiles/Settings/Logs",
     {{"/ProgramFiles/Settings/Logs/", true}}},
    {"DiskRoot", false, "/", 1, "/", {{"/", true}}},
    {"Parent", false, "..", 1, "/", {{"../", true}}},
    {"Refused", false, "/ProgramFiles/NoSuch", 0, "/ProgramFiles",
     {{"/ProgramFiles/NoSuch/", false}}},
    {"RefusedOnUtf8Firmware", true, "/ProgramFiles/NoSuch", 0, "/ProgramFiles",
     {{"/ProgramFiles/NoSuch/", false}, {"/ProgramFiles/NoSuch/", false}}},
    {"AFileIsNoDirectory", false, "/ProgramFiles/Zephyrdesk.tap", 0, "/ProgramFiles",
     {{"/ProgramFiles/Zephyrdesk.tap/", false}}},
    {"Iso8859_9NameOnUtf8Firmware", true, "/ProgramFiles/\xDD", 1, "/ProgramFiles/\xC4\xB0",
     {{"/ProgramFiles/\\xDD/", false}, {"/ProgramFiles/\\xC4\\xB0/", true}}},
    {"Iso8859_9NameWithoutUtf8Firmware", false, "/ProgramFiles/\xDD", 0, "/ProgramFiles",
     {{"/ProgramFiles/\\xDD/", false}}},
    {"Utf8NameOnUtf8Firmware", true, "/ProgramFiles/\xC4\xB0", 1, "/ProgramFiles/\xC4\xB0",
     {{"/ProgramFiles/\\xC4\\xB0/", true}}},
    {"LinuxDirOutsideTheDisk", true, "/tmp", 0, "/ProgramFiles", {}},
    {"Empty", true, "", 0, "/ProgramFiles", {}},
    {"TooLong", true, "/ProgramFiles/" + kLong, 0, "/ProgramFiles", {}},
};

class HDD_ChangeDirTable : public CasesEachConvention<DirFixture, ChangeCase> {
protected:
    void configure(EmuOptions &o) override { o.utf8Firmware = param().utf8Firmware; }
};

TEST_P(HDD_ChangeDirTable, ChangesOrKeepsTheDirectory) {
    const ChangeCase &c = param();
    makeDirs(disk("/ProgramFiles/\xC4\xB0"));
    ASSERT_EQ(0, HDD_ChangeDir(nullptr));  // the TAP's first change: learns the firmware's answer
    ASSERT_EQ(recorded("/ProgramFiles"), workDir());
    size_t traced = trace().size();

    EXPECT_EQ(c.result, HDD_ChangeDir(c.path.c_str())) << c.name;
    EXPECT_EQ(recorded(c.after), workDir()) << c.name;
    std::vector<std::string> calls;
    for (const ChangeCall &call : c.calls) calls.push_back(changeDirLine(call.path, call.worked));
    EXPECT_EQ(calls, changeDirLines(traceFrom(traced))) << c.name;
}

INSTANTIATE_TEST_SUITE_P(DirStack, HDD_ChangeDirTable, CASES_EACH_CONVENTION(kChanges, ChangeCase));

class HDD_ChangeDirTest : public EachConvention<DirFixture> {};
INSTANTIATE_TEST_SUITE_P(DirStack, HDD_ChangeDirTest, EACH_CONVENTION);

TEST_P(HDD_ChangeDirTest, LearnsTheFirmwaresAnswerOncePerLife) {
    size_t traced = trace().size();
    EXPECT_EQ(1, HDD_ChangeDir("/ProgramFiles/Settings"));
    EXPECT_EQ(1, HDD_ChangeDir("Logs"));
    EXPECT_EQ(0, HDD_ChangeDir("/ProgramFiles/NoSuch"));
    EXPECT_EQ(recorded("/ProgramFiles/Settings/Logs"), workDir());
    std::vector<std::string> expected = {
        changeDirLine("/ProgramFiles", true),
        changeDirLine("/ProgramFiles/", true),
        changeDirLine("/ProgramFiles/Settings/", true),
        changeDirLine("Logs/", true),
        changeDirLine("/ProgramFiles/NoSuch/", false),
    };
    EXPECT_EQ(expected, changeDirLines(traceFrom(traced)));
    EXPECT_EQ(-1, TAPDirStackDepth);
}

TEST_P(HDD_ChangeDirTest, FailedChangeKeepsTheDirectoryWhenTheStackIsFull) {
    for (int i = 0; i < 16; i++) {
        ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir(("/ProgramFiles/D" + std::to_string(i)).c_str()));
        ASSERT_EQ(1, HDD_TAP_PushDir());
    }
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/ProgramFiles/Settings"));

    EXPECT_EQ(0, HDD_ChangeDir("/ProgramFiles/NoSuch"));
    EXPECT_EQ(recorded("/ProgramFiles/Settings"), workDir());
    EXPECT_EQ(15, TAPDirStackDepth);
    EXPECT_EQ(1, HDD_TAP_PopDir());
    EXPECT_EQ(recorded("/ProgramFiles/D15"), workDir());
}

// The first change of the TAP's life cannot save a working directory that
// is too long for the stack there; it still comes back to it.
TEST_P(HDD_ChangeDirTest, FirstChangeComesBackToADirectoryTooLongForTheStack) {
    std::string dir = makeLongDir(diskDir, 300);
    makeDirs(disk(dir + "/Sub"));
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir(dir.c_str()));

    EXPECT_EQ(0, HDD_ChangeDir("/ProgramFiles/NoSuch"));
    EXPECT_EQ(recorded(dir), workDir());
    EXPECT_EQ(-1, TAPDirStackDepth);
    EXPECT_EQ(1, HDD_ChangeDir("Sub"));
    EXPECT_EQ(recorded(dir + "/Sub"), workDir());
}

class HDD_ChangeDirBareDisk : public EachConvention<EmuTest> {};
INSTANTIATE_TEST_SUITE_P(DirStack, HDD_ChangeDirBareDisk, EACH_CONVENTION);

TEST_P(HDD_ChangeDirBareDisk, DiskWithoutProgramFilesStillTellsSuccessFromFailure) {
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/"));
    ASSERT_EQ(0, rmdir(disk("/ProgramFiles").c_str()));
    makeDirs(disk("/Other"));

    EXPECT_EQ(1, HDD_ChangeDir("/Other"));
    EXPECT_EQ(recorded("/Other"), workDir());
    EXPECT_EQ(0, HDD_ChangeDir("/NoSuch"));
    EXPECT_EQ(recorded("/Other"), workDir());
}

}  // namespace
