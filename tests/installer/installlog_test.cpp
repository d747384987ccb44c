// The installation log on a real disk folder: folders and file made on
// demand, lines appended with their time stamp, and the TAP's working
// directory left as it was.
#include "emutest.h"
#include "installer_screens.h"

#include "Zephyrdesk-Install.h"
#include "velalib.h"

namespace {

const char *const kLogFolder = "/ProgramFiles/Settings/Logs";
const char *const kLog = "/ProgramFiles/Settings/Logs/Zephyrdesk-Install.log";

class InstallLog : public EmuTest {
protected:
    std::vector<std::string> creates(size_t from) const {
        return callTexts(callsNamed(tracedCalls(traceFrom(from)), "TAP_Hdd_Create"));
    }
    void writeLine(const char *text) {
        TAP_SPrint(logEntry, "%s", text);
        LogWriteEntry(logEntry);
    }
};

// ---- createLogFile ------------------------------------------------------

struct ExistingCase {
    const char *name;
    std::vector<std::string> folders;  // there before the call
    bool logThere;
    std::vector<std::string> created;  // what the call creates, in order
};

const ExistingCase kExisting[] = {
    {"FreshDisk", {}, false,
     {"TAP_Hdd_Create \"Settings\" 224", "TAP_Hdd_Create \"Logs\" 224",
      "TAP_Hdd_Create \"Zephyrdesk-Install.log\" 208"}},
    {"SettingsOnly", {"/ProgramFiles/Settings"}, false,
     {"TAP_Hdd_Create \"Logs\" 224", "TAP_Hdd_Create \"Zephyrdesk-Install.log\" 208"}},
    {"FoldersWithoutLog", {"/ProgramFiles/Settings/Logs"}, false,
     {"TAP_Hdd_Create \"Zephyrdesk-Install.log\" 208"}},
    {"Everything", {"/ProgramFiles/Settings/Logs"}, true, {}},
};

class CreateLogFile : public InstallLog, public ::testing::WithParamInterface<ExistingCase> {};

TEST_P(CreateLogFile, MakesWhatIsMissingAndKeepsWhatIsThere) {
    const ExistingCase &c = GetParam();
    for (const std::string &f : c.folders) makeDirs(disk(f));
    const std::string earlier = "2016-02-28 10:00:00 Installation complete.\r\n";
    if (c.logThere) writeFile(disk(kLog), earlier);
    size_t from = trace().size();
    createLogFile();
    EXPECT_EQ(c.created, creates(from)) << c.name;
    ASSERT_TRUE(fileExists(disk(kLog))) << c.name;
    EXPECT_EQ(c.logThere ? earlier : "", readFile(disk(kLog))) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Disks, CreateLogFile, ::testing::ValuesIn(kExisting),
                         [](const ::testing::TestParamInfo<ExistingCase> &info) { return info.param.name; });

// ---- LogWriteEntry ------------------------------------------------------

using LogWriteEntryTest = InstallLog;

TEST_F(LogWriteEntryTest, FirstRunOnFreshDiskStartsTheLog) {
    ASSERT_FALSE(fileExists(disk("/ProgramFiles/Settings")));
    createLogFile();
    writeLine("Starting installation.");
    EXPECT_TRUE(fileExists(disk(kLogFolder)));
    EXPECT_EQ("2016-02-29 13:05:09 Starting installation.\r\n", readFile(disk(kLog)));
    std::string echo = console();
    EXPECT_NE(std::string::npos, echo.find("Zephyrdesk-Install: ")) << echo;
    EXPECT_NE(std::string::npos, echo.find("Starting installation.")) << echo;
}

TEST_F(LogWriteEntryTest, LaterRunsAppend) {
    makeDirs(disk(kLogFolder));
    const std::string earlier = "2016-02-28 10:00:00 Installation complete.\r\n";
    writeFile(disk(kLog), earlier);
    for (int run = 0; run < 2; run++) {
        createLogFile();
        writeLine("Starting installation.");
        writeLine("Installation complete.");
    }
    const std::string line1 = "2016-02-29 13:05:09 Starting installation.\r\n";
    const std::string line2 = "2016-02-29 13:05:09 Installation complete.\r\n";
    EXPECT_EQ(earlier + line1 + line2 + line1 + line2, readFile(disk(kLog)));
}

TEST_F(LogWriteEntryTest, WithoutLogFolderWritesNoFile) {
    writeLine("Starting installation.");
    EXPECT_FALSE(fileExists(disk("/ProgramFiles/Settings")));
    EXPECT_NE(std::string::npos, console().find("Starting installation."));
}

// ---- The working directory around every call ------------------------

struct DirCase {
    const char *name;
    std::string dir;
    bool write; // LogWriteEntry, else createLogFile
};

const DirCase kDirs[] = {
    {"CreateFromProgramFiles", "/ProgramFiles", false},
    {"CreateFromAutoStart", "/ProgramFiles/AutoStart", false},
    {"CreateFromRoot", "/", false},
    {"CreateFromLogFolder", "/ProgramFiles/Settings/Logs", false},
    {"WriteFromProgramFiles", "/ProgramFiles", true},
    {"WriteFromAutoStart", "/ProgramFiles/AutoStart", true},
    {"WriteFromSettings", "/ProgramFiles/Settings", true},
    {"WriteFromLogFolder", "/ProgramFiles/Settings/Logs", true},
};

class WorkingDirectory : public CasesEachConvention<InstallLog, DirCase> {};

TEST_P(WorkingDirectory, IsTheSameAfterTheCall) {
    const DirCase &c = param();
    makeDirs(disk(c.dir));
    makeDirs(disk(kLogFolder));
    writeFile(disk(c.dir == "/" ? "/marker.txt" : c.dir + "/marker.txt"), "x");
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir(c.dir.c_str()));
    char before[512] = "";
    ASSERT_EQ(0, HDD_TAP_GetCurrentDir(before));
    ASSERT_EQ(recorded(c.dir), before);
    unsigned heapBefore = emuHeapBlocksInUse();
    size_t from = trace().size();
    if (c.write)
        writeLine("Starting installation.");
    else
        createLogFile();
    char after[512] = "";
    EXPECT_EQ(0, HDD_TAP_GetCurrentDir(after));
    EXPECT_STREQ(before, after) << c.name;
    EXPECT_EQ(-1, TAPDirStackDepth) << c.name;
    EXPECT_EQ(heapBefore, emuHeapBlocksInUse()) << c.name << ": heap blocks not given back";
    EXPECT_NE(0, TAP_Hdd_Exist("marker.txt")) << c.name << ": names resolve in " << c.dir << " again";
    // The trace shows the way back as the last change of directory.
    std::vector<TracedCall> changes = callsNamed(tracedCalls(traceFrom(from)), "TAP_Hdd_ChangeDir");
    ASSERT_FALSE(changes.empty());
    std::string last = changes.back().args[0];
    last = last.substr(1, last.size() - 2);
    if (last.size() > 1 && last.back() == '/') last.pop_back();
    EXPECT_EQ(c.dir, last) << c.name;
    EXPECT_NE(std::string::npos, changes.front().text().find(c.write ? kLogFolder : "/ProgramFiles"))
        << changes.front().text();
}

INSTANTIATE_TEST_SUITE_P(Folders, WorkingDirectory, CASES_EACH_CONVENTION(kDirs, DirCase));

} // namespace
