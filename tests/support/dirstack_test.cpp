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
    const char *change;
    const char *expected;
};

void PrintTo(const CurrentDirCase &c, std::ostream *os) { *os << c.change; }

const CurrentDirCase kCurrentDirs[] = {
    {"/ProgramFiles", "/ProgramFiles"},
    {"/ProgramFiles/Settings/Logs", "/ProgramFiles/Settings/Logs"},
    {"Settings", "/ProgramFiles/Settings"},
    {"/", "/"},
};

class HDD_TAP_GetCurrentDirTable : public DirFixture, public ::testing::WithParamInterface<CurrentDirCase> {};

TEST_P(HDD_TAP_GetCurrentDirTable, GivesTheDirectoryInTheTapView) {
    ASSERT_EQ(1, TAP_Hdd_ChangeDir(GetParam().change));
    char dir[PATH_BUFFER_SIZE];
    memset(dir, 'Z', sizeof dir);
    EXPECT_EQ(0, HDD_TAP_GetCurrentDir(dir));
    EXPECT_STREQ(GetParam().expected, dir) << "after changing to " << GetParam().change;
}

INSTANTIATE_TEST_SUITE_P(DirStack, HDD_TAP_GetCurrentDirTable, ::testing::ValuesIn(kCurrentDirs));

using HDD_TAP_GetCurrentDirTest = DirFixture;

TEST_F(HDD_TAP_GetCurrentDirTest, LearnsTheTapsSlotFromTheFirmware) {
    ASSERT_EQ(-1, TAP_TableIndex);
    EXPECT_EQ(0, HDD_TAP_GetCurrentDir(nullptr));
    EXPECT_EQ(slot, TAP_TableIndex);
}

// ---- HDD_TAP_PushDir and HDD_TAP_PopDir ---------------------------------

using HDD_TAP_PushDirTest = DirFixture;

TEST_F(HDD_TAP_PushDirTest, SixteenPushesSucceedAndTheSeventeenthChangesNothing) {
    for (int i = 0; i < 16; i++) {
        std::string dir = "/ProgramFiles/D" + std::to_string(i);
        ASSERT_EQ(1, TAP_Hdd_ChangeDir(dir.c_str()));
        ASSERT_EQ(1, HDD_TAP_PushDir()) << "push " << i + 1;
        EXPECT_EQ(i, TAPDirStackDepth);
        EXPECT_STREQ(dir.c_str(), TAPDirStack[i]);
    }
    char before[DIR_STACK_DEPTH][DIR_STACK_ENTRY];
    memcpy(before, TAPDirStack, sizeof before);

    ASSERT_EQ(1, TAP_Hdd_ChangeDir("/ProgramFiles/D16"));
    EXPECT_EQ(0, HDD_TAP_PushDir());
    EXPECT_EQ(15, TAPDirStackDepth);
    EXPECT_EQ(0, memcmp(before, TAPDirStack, sizeof before));
    EXPECT_EQ("/ProgramFiles/D16", workDir());
}

TEST_F(HDD_TAP_PushDirTest, RefusesADirectoryLongerThanAnEntry) {
    std::string dir = "/ProgramFiles";
    while (dir.size() < DIR_STACK_ENTRY) dir += "/" + std::string(40, 'x');
    makeDirs(disk(dir));
    ASSERT_EQ(1, TAP_Hdd_ChangeDir(dir.c_str()));
    ASSERT_EQ(dir, workDir());

    EXPECT_EQ(0, HDD_TAP_PushDir());
    EXPECT_EQ(-1, TAPDirStackDepth);
    EXPECT_EQ(0, HDD_TAP_PopDir());
    EXPECT_EQ(dir, workDir());
}

using HDD_TAP_PopDirTest = DirFixture;

TEST_F(HDD_TAP_PopDirTest, SixteenPopsComeBackInReverseOrder) {
    for (int i = 0; i < 16; i++) {
        ASSERT_EQ(1, TAP_Hdd_ChangeDir(("/ProgramFiles/D" + std::to_string(i)).c_str()));
        ASSERT_EQ(1, HDD_TAP_PushDir());
    }
    ASSERT_EQ(1, TAP_Hdd_ChangeDir("/ProgramFiles/Settings"));
    for (int i = 15; i >= 0; i--) {
        EXPECT_EQ(1, HDD_TAP_PopDir()) << "pop to D" << i;
        EXPECT_EQ("/ProgramFiles/D" + std::to_string(i), workDir());
        EXPECT_EQ(i - 1, TAPDirStackDepth);
    }
    EXPECT_EQ(0, HDD_TAP_PopDir());
    EXPECT_EQ("/ProgramFiles/D0", workDir());
}

TEST_F(HDD_TAP_PopDirTest, FirstPopOfTheTapsLifeReturnsToThePushedDirectory) {
    ASSERT_EQ(1, HDD_TAP_PushDir());
    ASSERT_EQ(1, TAP_Hdd_ChangeDir("/ProgramFiles/Settings/Logs"));
    size_t traced = trace().size();

    EXPECT_EQ(1, HDD_TAP_PopDir());
    EXPECT_EQ("/ProgramFiles", workDir());
    EXPECT_EQ(-1, TAPDirStackDepth);
    // The first change of the TAP's life learns the firmware's answer by
    // going into /ProgramFiles and back before it changes.
    std::vector<std::string> expected = {
        "TAP_Hdd_ChangeDir \"/ProgramFiles\" -> 1",
        "TAP_Hdd_ChangeDir \"/ProgramFiles/Settings/Logs/\" -> 1",
        "TAP_Hdd_ChangeDir \"/ProgramFiles/\" -> 1",
    };
    EXPECT_EQ(expected, changeDirLines(traceFrom(traced)));
}

TEST_F(HDD_TAP_PopDirTest, LaterPopsChangeOnce) {
    ASSERT_EQ(1, HDD_TAP_PushDir());
    ASSERT_EQ(1, HDD_TAP_PopDir());
    ASSERT_EQ(1, TAP_Hdd_ChangeDir("/ProgramFiles/Settings"));
    ASSERT_EQ(1, HDD_TAP_PushDir());
    ASSERT_EQ(1, TAP_Hdd_ChangeDir("/ProgramFiles/D3"));
    size_t traced = trace().size();

    EXPECT_EQ(1, HDD_TAP_PopDir());
    EXPECT_EQ("/ProgramFiles/Settings", workDir());
    std::vector<std::string> expected = {"TAP_Hdd_ChangeDir \"/ProgramFiles/Settings/\" -> 1"};
    EXPECT_EQ(expected, changeDirLines(traceFrom(traced)));
}

TEST_F(HDD_TAP_PopDirTest, EmptyStackLeavesTheDirectory) {
    ASSERT_EQ(1, TAP_Hdd_ChangeDir("/ProgramFiles/Settings"));
    size_t traced = trace().size();
    EXPECT_EQ(0, HDD_TAP_PopDir());
    EXPECT_EQ("/ProgramFiles/Settings", workDir());
    EXPECT_TRUE(changeDirLines(traceFrom(traced)).empty());
}

TEST_F(HDD_TAP_PopDirTest, PopsTheEntryEvenWhenTheDirectoryIsGone) {
    ASSERT_EQ(1, TAP_Hdd_ChangeDir("/ProgramFiles/D1"));
    ASSERT_EQ(1, HDD_TAP_PushDir());
    ASSERT_EQ(1, TAP_Hdd_ChangeDir("/ProgramFiles/Settings"));
    ASSERT_EQ(0, rmdir(disk("/ProgramFiles/D1").c_str()));

    EXPECT_EQ(0, HDD_TAP_PopDir());
    EXPECT_EQ(-1, TAPDirStackDepth);
    EXPECT_EQ("/ProgramFiles/Settings", workDir());
}

// ---- HDD_ChangeDir ------------------------------------------------------

struct ChangeCase {
    const char *name;
    bool utf8Firmware;
    std::string path;
    int result;
    const char *after;              // working directory afterwards
    std::vector<std::string> calls; // the firmware calls after the first one's probe
};

void PrintTo(const ChangeCase &c, std::ostream *os) { *os << c.name; }

const std::string kLong(600, 'l');

const ChangeCase kChanges[] = {
    {"AbsoluteTapDir", false, "/ProgramFiles/Settings", 1, "/ProgramFiles/Settings",
     {"TAP_Hdd_ChangeDir \"/ProgramFiles/Settings/\" -> 1"}},
    {"RelativeTapDir", false, "Settings/Logs", 1, "/ProgramFiles/Settings/Logs",
     {"TAP_Hdd_ChangeDir \"Settings/Logs/\" -> 1"}},
    {"FolderName", false, "Settings", 1, "/ProgramFiles/Settings",
     {"TAP_Hdd_ChangeDir \"Settings/\" -> 1"}},
    {"LinuxDir", false, "/mnt/hd/ProgramFiles/Settings/Logs", 1, "/ProgramFiles/Settings/Logs",
     {"TAP_Hdd_ChangeDir \"/ProgramFiles/Settings/Logs/\" -> 1"}},
    {"DiskRoot", false, "/", 1, "/", {"TAP_Hdd_ChangeDir \"/\" -> 1"}},
    {"Parent", false, "..", 1, "/", {"TAP_Hdd_ChangeDir \"../\" -> 1"}},
    {"Refused", false, "/ProgramFiles/NoSuch", 0, "/ProgramFiles",
     {"TAP_Hdd_ChangeDir \"/ProgramFiles/NoSuch/\" -> 0"}},
    {"RefusedOnUtf8Firmware", true, "/ProgramFiles/NoSuch", 0, "/ProgramFiles",
     {"TAP_Hdd_ChangeDir \"/ProgramFiles/NoSuch/\" -> 0", "TAP_Hdd_ChangeDir \"/ProgramFiles/NoSuch/\" -> 0"}},
    {"AFileIsNoDirectory", false, "/ProgramFiles/Zephyrdesk.tap", 0, "/ProgramFiles",
     {"TAP_Hdd_ChangeDir \"/ProgramFiles/Zephyrdesk.tap/\" -> 0"}},
    {"Iso8859_9NameOnUtf8Firmware", true, "/ProgramFiles/\xDD", 1, "/ProgramFiles/\xC4\xB0",
     {"TAP_Hdd_ChangeDir \"/ProgramFiles/\\xDD/\" -> 0", "TAP_Hdd_ChangeDir \"/ProgramFiles/\\xC4\\xB0/\" -> 1"}},
    {"Iso8859_9NameWithoutUtf8Firmware", false, "/ProgramFiles/\xDD", 0, "/ProgramFiles",
     {"TAP_Hdd_ChangeDir \"/ProgramFiles/\\xDD/\" -> 0"}},
    {"Utf8NameOnUtf8Firmware", true, "/ProgramFiles/\xC4\xB0", 1, "/ProgramFiles/\xC4\xB0",
     {"TAP_Hdd_ChangeDir \"/ProgramFiles/\\xC4\\xB0/\" -> 1"}},
    {"LinuxDirOutsideTheDisk", true, "/tmp", 0, "/ProgramFiles", {}},
    {"Empty", true, "", 0, "/ProgramFiles", {}},
    {"TooLong", true, "/ProgramFiles/" + kLong, 0, "/ProgramFiles", {}},
};

class HDD_ChangeDirTable : public DirFixture, public ::testing::WithParamInterface<ChangeCase> {
protected:
    void configure(EmuOptions &o) override { o.utf8Firmware = GetParam().utf8Firmware; }
};

TEST_P(HDD_ChangeDirTable, ChangesOrKeepsTheDirectory) {
    const ChangeCase &c = GetParam();
    makeDirs(disk("/ProgramFiles/\xC4\xB0"));
    ASSERT_EQ(0, HDD_ChangeDir(nullptr));  // the TAP's first change: learns the firmware's answer
    ASSERT_EQ("/ProgramFiles", workDir());
    size_t traced = trace().size();

    EXPECT_EQ(c.result, HDD_ChangeDir(c.path.c_str())) << c.name;
    EXPECT_EQ(c.after, workDir()) << c.name;
    EXPECT_EQ(c.calls, changeDirLines(traceFrom(traced))) << c.name;
}

INSTANTIATE_TEST_SUITE_P(DirStack, HDD_ChangeDirTable, ::testing::ValuesIn(kChanges),
                         [](const ::testing::TestParamInfo<ChangeCase> &info) { return info.param.name; });

using HDD_ChangeDirTest = DirFixture;

TEST_F(HDD_ChangeDirTest, LearnsTheFirmwaresAnswerOncePerLife) {
    size_t traced = trace().size();
    EXPECT_EQ(1, HDD_ChangeDir("/ProgramFiles/Settings"));
    EXPECT_EQ(1, HDD_ChangeDir("Logs"));
    EXPECT_EQ(0, HDD_ChangeDir("/ProgramFiles/NoSuch"));
    EXPECT_EQ("/ProgramFiles/Settings/Logs", workDir());
    std::vector<std::string> expected = {
        "TAP_Hdd_ChangeDir \"/ProgramFiles\" -> 1",
        "TAP_Hdd_ChangeDir \"/ProgramFiles/\" -> 1",
        "TAP_Hdd_ChangeDir \"/ProgramFiles/Settings/\" -> 1",
        "TAP_Hdd_ChangeDir \"Logs/\" -> 1",
        "TAP_Hdd_ChangeDir \"/ProgramFiles/NoSuch/\" -> 0",
    };
    EXPECT_EQ(expected, changeDirLines(traceFrom(traced)));
    EXPECT_EQ(-1, TAPDirStackDepth);
}

TEST_F(HDD_ChangeDirTest, FailedChangeKeepsTheDirectoryWhenTheStackIsFull) {
    for (int i = 0; i < 16; i++) {
        ASSERT_EQ(1, TAP_Hdd_ChangeDir(("/ProgramFiles/D" + std::to_string(i)).c_str()));
        ASSERT_EQ(1, HDD_TAP_PushDir());
    }
    ASSERT_EQ(1, TAP_Hdd_ChangeDir("/ProgramFiles/Settings"));

    EXPECT_EQ(0, HDD_ChangeDir("/ProgramFiles/NoSuch"));
    EXPECT_EQ("/ProgramFiles/Settings", workDir());
    EXPECT_EQ(15, TAPDirStackDepth);
    EXPECT_EQ(1, HDD_TAP_PopDir());
    EXPECT_EQ("/ProgramFiles/D15", workDir());
}

using HDD_ChangeDirBareDisk = EmuTest;

TEST_F(HDD_ChangeDirBareDisk, DiskWithoutProgramFilesStillTellsSuccessFromFailure) {
    ASSERT_EQ(1, TAP_Hdd_ChangeDir("/"));
    ASSERT_EQ(0, rmdir(disk("/ProgramFiles").c_str()));
    makeDirs(disk("/Other"));

    EXPECT_EQ(1, HDD_ChangeDir("/Other"));
    EXPECT_EQ("/Other", workDir());
    EXPECT_EQ(0, HDD_ChangeDir("/NoSuch"));
    EXPECT_EQ("/Other", workDir());
}

}  // namespace
