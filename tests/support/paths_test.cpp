// Telling paths apart and converting them between the TAP view of the disk
// ("/ProgramFiles/x") and the Linux view ("/mnt/hd/ProgramFiles/x"), on a
// real disk folder with the TAP's working directory in the stand-in
// firmware.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "emutest.h"
#include "support/velalib.h"

namespace {

// The TAP's working directory as the firmware keeps it.
std::string workDir() {
    char dir[PATH_BUFFER_SIZE] = "";
    HDD_TAP_GetCurrentDir(dir);
    return dir;
}

size_t changeDirCalls(const std::vector<std::string> &lines) {
    size_t n = 0;
    for (const std::string &line : lines)
        if (line.rfind("TAP_Hdd_ChangeDir ", 0) == 0) n++;
    return n;
}

// A disk with a file and folders in /ProgramFiles, and a folder with a
// file outside the disk under /tmp (made before the firmware starts, as
// nothing outside the disk may be written while it runs).
class PathsFixture : public EmuTest {
protected:
    void configure(EmuOptions &) override {
        outside = "/tmp/velalib-paths-" + std::to_string(getpid());
        removeTree(outside);
        makeDirs(outside + "/folder");
        writeFile(outside + "/outside.txt", "x");
    }
    void SetUp() override {
        EmuTest::SetUp();
        makeDirs(disk("/ProgramFiles/Settings/Logs"));
        writeFile(disk("/ProgramFiles/Zephyrdesk.tap"), "tap");
        writeFile(disk("/ProgramFiles/.profile"), "p");
        writeFile(disk("/ProgramFiles/Settings/setup.ini"), "[x]");
        ASSERT_EQ(0, symlink("Settings", disk("/ProgramFiles/link").c_str()));
        ASSERT_EQ(0, getcwd(processDir, sizeof processDir) == nullptr);
    }
    void TearDown() override {
        ASSERT_EQ(0, chdir(processDir));
        EmuTest::TearDown();
        removeTree(outside);
    }
    // "@" at the start of a text stands for the folder under /tmp.
    std::string expand(const char *text) const {
        return text[0] == '@' ? outside + (text + 1) : std::string(text);
    }
    std::string outside;
    char processDir[4096] = "";
};

struct ConversionCase {
    const char *name;
    const char *workDir;       // the TAP's working directory
    bool processInWorkFolder;  // the process itself works in the disk's /ProgramFiles
    const char *source;
    tPathType type;
    const char *to[5];         // PT_FileName, PT_TapDir, PT_LinuxDir, PT_TapFile, PT_LinuxFile
};

void PrintTo(const ConversionCase &c, std::ostream *os) { *os << c.source; }

const ConversionCase kConversions[] = {
    // Bare names: a folder in the working directory or not.
    {"LogNameInLogFolder", "/ProgramFiles/Settings/Logs", false, "Zephyrdesk-Install.log", PT_FileName,
     {"Zephyrdesk-Install.log", "/ProgramFiles/Settings/Logs/", "/mnt/hd/ProgramFiles/Settings/Logs/",
      "/ProgramFiles/Settings/Logs/Zephyrdesk-Install.log",
      "/mnt/hd/ProgramFiles/Settings/Logs/Zephyrdesk-Install.log"}},
    {"ExistingFileName", "/ProgramFiles", false, "Zephyrdesk.tap", PT_FileName,
     {"Zephyrdesk.tap", "/ProgramFiles/", "/mnt/hd/ProgramFiles/", "/ProgramFiles/Zephyrdesk.tap",
      "/mnt/hd/ProgramFiles/Zephyrdesk.tap"}},
    {"NameInDiskRoot", "/", false, "a.log", PT_FileName,
     {"a.log", "/", "/mnt/hd/", "/a.log", "/mnt/hd/a.log"}},
    {"FolderName", "/ProgramFiles", false, "Settings", PT_TapDir,
     {"", "Settings/", "/mnt/hd/ProgramFiles/Settings/", "", ""}},
    {"FolderNameElsewhere", "/ProgramFiles/Settings", false, "Settings", PT_FileName,
     {"Settings", "/ProgramFiles/Settings/", "/mnt/hd/ProgramFiles/Settings/",
      "/ProgramFiles/Settings/Settings", "/mnt/hd/ProgramFiles/Settings/Settings"}},
    // Names starting with "." and the root.
    {"DotFile", "/ProgramFiles", false, ".profile", PT_TapDir,
     {"", ".profile/", "/mnt/hd/ProgramFiles/.profile/", "", ""}},
    {"DotDot", "/ProgramFiles/Settings", false, "..", PT_TapDir,
     {"", "../", "/mnt/hd/ProgramFiles/Settings/../", "", ""}},
    {"Root", "/ProgramFiles", false, "/", PT_TapDir, {"", "/", "/mnt/hd/", "", ""}},
    // TAP-view folders.
    {"ExistingTapDir", "/ProgramFiles", false, "/ProgramFiles/Settings", PT_TapDir,
     {"", "/ProgramFiles/Settings/", "/mnt/hd/ProgramFiles/Settings/", "", ""}},
    {"MissingTapDirWithSlash", "/ProgramFiles", false, "/ProgramFiles/Missing/", PT_TapDir,
     {"", "/ProgramFiles/Missing/", "/mnt/hd/ProgramFiles/Missing/", "", ""}},
    {"RelativeTapDir", "/ProgramFiles", false, "Settings/Logs", PT_TapDir,
     {"", "Settings/Logs/", "/mnt/hd/ProgramFiles/Settings/Logs/", "", ""}},
    // Linux folders, on the disk and elsewhere.
    {"ExistingLinuxDir", "/ProgramFiles", false, "/mnt/hd/ProgramFiles", PT_LinuxDir,
     {"", "/ProgramFiles/", "/mnt/hd/ProgramFiles/", "", ""}},
    {"MountPoint", "/ProgramFiles", false, "/mnt/hd", PT_LinuxDir, {"", "/", "/mnt/hd/", "", ""}},
    {"MissingLinuxDirWithSlash", "/ProgramFiles", false, "/mnt/hd/NoSuch/", PT_LinuxDir,
     {"", "/NoSuch/", "/mnt/hd/NoSuch/", "", ""}},
    {"OtherMountPoint", "/ProgramFiles", false, "/mnt/usb/", PT_LinuxDir, {"", "", "/mnt/usb/", "", ""}},
    {"FolderUnderTmp", "/ProgramFiles", false, "@/folder", PT_LinuxDir, {"", "", "@/folder/", "", ""}},
    // TAP-view files.
    {"ExistingTapFile", "/ProgramFiles", false, "/ProgramFiles/Zephyrdesk.tap", PT_TapFile,
     {"Zephyrdesk.tap", "/ProgramFiles/", "/mnt/hd/ProgramFiles/", "/ProgramFiles/Zephyrdesk.tap",
      "/mnt/hd/ProgramFiles/Zephyrdesk.tap"}},
    {"NewTapFile", "/ProgramFiles", false, "/ProgramFiles/new.ini", PT_TapFile,
     {"new.ini", "/ProgramFiles/", "/mnt/hd/ProgramFiles/", "/ProgramFiles/new.ini",
      "/mnt/hd/ProgramFiles/new.ini"}},
    {"RelativeTapFile", "/ProgramFiles", false, "Settings/setup.ini", PT_TapFile,
     {"setup.ini", "Settings/", "/mnt/hd/ProgramFiles/Settings/", "Settings/setup.ini",
      "/mnt/hd/ProgramFiles/Settings/setup.ini"}},
    {"TapFileInRoot", "/ProgramFiles", false, "/x.ini", PT_TapFile,
     {"x.ini", "/", "/mnt/hd/", "/x.ini", "/mnt/hd/x.ini"}},
    {"MissingFileUnderTmp", "/ProgramFiles", false, "/tmp/velalib-no-such-file", PT_TapFile,
     {"velalib-no-such-file", "/tmp/", "/mnt/hd/tmp/", "/tmp/velalib-no-such-file",
      "/mnt/hd/tmp/velalib-no-such-file"}},
    // Linux files, on the disk and elsewhere.
    {"ExistingLinuxFile", "/ProgramFiles", false, "/mnt/hd/ProgramFiles/Zephyrdesk.tap", PT_LinuxFile,
     {"Zephyrdesk.tap", "/ProgramFiles/", "/mnt/hd/ProgramFiles/", "/ProgramFiles/Zephyrdesk.tap",
      "/mnt/hd/ProgramFiles/Zephyrdesk.tap"}},
    {"MissingLinuxFileInRoot", "/ProgramFiles", false, "/mnt/hd/x.tap", PT_LinuxFile,
     {"x.tap", "/", "/mnt/hd/", "/x.tap", "/mnt/hd/x.tap"}},
    {"SymbolicLinkToFolder", "/ProgramFiles", false, "/mnt/hd/ProgramFiles/link", PT_LinuxFile,
     {"link", "/ProgramFiles/", "/mnt/hd/ProgramFiles/", "/ProgramFiles/link", "/mnt/hd/ProgramFiles/link"}},
    {"FileUnderTmp", "/ProgramFiles", false, "@/outside.txt", PT_LinuxFile,
     {"outside.txt", "", "@/", "", "@/outside.txt"}},
    {"NeighbourOfMountPoint", "/ProgramFiles", false, "/mnt/hdd/x.tap", PT_LinuxFile,
     {"x.tap", "", "/mnt/hdd/", "", "/mnt/hdd/x.tap"}},
    // Relative paths that exist relative to the process's own directory.
    {"FileNearProcess", "/ProgramFiles", true, "Zephyrdesk.tap", PT_LinuxFile,
     {"Zephyrdesk.tap", "", "./", "", "Zephyrdesk.tap"}},
    {"FileBelowProcess", "/ProgramFiles", true, "Settings/setup.ini", PT_LinuxFile,
     {"setup.ini", "", "Settings/", "", "Settings/setup.ini"}},
    {"FolderNearProcess", "/ProgramFiles", true, "Settings", PT_LinuxDir, {"", "", "Settings/", "", ""}},
};

class ConvertPathTypeTable : public CasesEachConvention<PathsFixture, ConversionCase> {};

TEST_P(ConvertPathTypeTable, ClassifiesAndConvertsToEveryType) {
    const ConversionCase &c = param();
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir(c.workDir));
    if (c.processInWorkFolder) {
        ASSERT_EQ(0, chdir(disk("/ProgramFiles").c_str()));
    }
    std::string source = expand(c.source);
    size_t traced = trace().size();

    EXPECT_EQ(c.type, GetPathType(source.c_str())) << source;
    for (int target = PT_FileName; target <= PT_LinuxFile; target++) {
        char destination[PATH_BUFFER_SIZE];
        memset(destination, 'Z', sizeof destination);
        ConvertPathType(source.c_str(), destination, (tPathType)target);
        EXPECT_EQ(expand(c.to[target]), destination) << source << " to type " << target;
    }

    EXPECT_EQ(0u, changeDirCalls(traceFrom(traced))) << source;
    EXPECT_EQ(recorded(c.workDir), workDir()) << source;
}

INSTANTIATE_TEST_SUITE_P(Paths, ConvertPathTypeTable, CASES_EACH_CONVENTION(kConversions, ConversionCase));

using ConvertPathTypeTest = PathsFixture;
class ConvertPathTypeInWorkDir : public EachConvention<PathsFixture> {};
INSTANTIATE_TEST_SUITE_P(Paths, ConvertPathTypeInWorkDir, EACH_CONVENTION);

TEST_P(ConvertPathTypeInWorkDir, SourceAndDestinationMayBeOneBuffer) {
    char path[PATH_BUFFER_SIZE] = "Zephyrdesk.tap";
    ConvertPathType(path, path, PT_LinuxFile);
    EXPECT_STREQ("/mnt/hd/ProgramFiles/Zephyrdesk.tap", path);
}

TEST_F(ConvertPathTypeTest, NullArgumentsAndUnknownTypesWriteNothing) {
    char destination[PATH_BUFFER_SIZE] = "untouched";
    ConvertPathType(nullptr, destination, PT_TapDir);
    EXPECT_STREQ("untouched", destination);
    ConvertPathType("/ProgramFiles/x.ini", nullptr, PT_TapDir);
    ConvertPathType("/ProgramFiles/x.ini", destination, (tPathType)5);
    EXPECT_STREQ("untouched", destination);
    ConvertPathType("/ProgramFiles/x.ini", destination, (tPathType)-1);
    EXPECT_STREQ("untouched", destination);
}

using GetPathTypeTest = PathsFixture;

TEST_F(GetPathTypeTest, NullAndEmptyPathsAreFileNames) {
    EXPECT_EQ(PT_FileName, GetPathType(nullptr));
    EXPECT_EQ(PT_FileName, GetPathType(""));
}

// Results that would not fit into 512 bytes become the empty text; nothing
// is written past the destination's end.
struct TooLongCase {
    const char *name;
    std::string source;
    tPathType target;
    bool fits;
};

void PrintTo(const TooLongCase &c, std::ostream *os) { *os << c.source.size() << " bytes to type " << c.target; }

const TooLongCase kTooLong[] = {
    {"LongTapFileToLinuxFile", "/ProgramFiles/" + std::string(600, 'a'), PT_LinuxFile, false},
    {"LongTapFileCopied", "/ProgramFiles/" + std::string(600, 'a'), PT_TapFile, false},
    {"LongNameInWorkDir", std::string(500, 'n'), PT_LinuxFile, false},
    {"LongNameAsName", std::string(500, 'n'), PT_FileName, true},
    {"DirFillingBufferNeedsSlash", "." + std::string(510, 'd'), PT_TapDir, false},
    {"DirFillingBufferWithSlash", "." + std::string(509, 'd') + "/", PT_TapDir, true},
};

class ConvertPathTypeTooLong : public CasesEachConvention<PathsFixture, TooLongCase> {};

TEST_P(ConvertPathTypeTooLong, StaysInsideTheDestination) {
    const TooLongCase &c = param();
    char destination[PATH_BUFFER_SIZE + 64];
    memset(destination, 'Z', sizeof destination);
    ConvertPathType(c.source.c_str(), destination, c.target);
    size_t length = strnlen(destination, sizeof destination);
    ASSERT_LT(length, (size_t)PATH_BUFFER_SIZE) << c.name;
    EXPECT_EQ(c.fits, length > 0) << c.name;
    for (size_t i = PATH_BUFFER_SIZE; i < sizeof destination; i++)
        ASSERT_EQ('Z', destination[i]) << c.name << ": byte " << i << " written";
}

INSTANTIATE_TEST_SUITE_P(Paths, ConvertPathTypeTooLong, CASES_EACH_CONVENTION(kTooLong, TooLongCase));

struct EndsWithCase {
    const char *text;
    const char *suffix;
    int expected;
};

void PrintTo(const EndsWithCase &c, std::ostream *os) {
    *os << (c.text ? c.text : "(null)") << " / " << (c.suffix ? c.suffix : "(null)");
}

const EndsWithCase kEndsWith[] = {
    {"/ProgramFiles/", "/", 1},      {"/ProgramFiles", "/", 0},  {"Zephyrdesk.tap", ".tap", 1},
    {"Zephyrdesk.tap", "Zephyrdesk.tap", 1}, {"tap", ".tap", 0}, {"", "/", 0},
    {"/", "", 0},                     {"", "", 0},                {nullptr, "/", 0},
    {"/", nullptr, 0},
};

class StringEndsWithTable : public EmuTest, public ::testing::WithParamInterface<EndsWithCase> {};

TEST_P(StringEndsWithTable, TellsWhetherTextEndsWithSuffix) {
    const EndsWithCase &c = GetParam();
    EXPECT_EQ(c.expected, StringEndsWith(c.text, c.suffix))
        << (c.text ? c.text : "(null)") << " / " << (c.suffix ? c.suffix : "(null)");
}

INSTANTIATE_TEST_SUITE_P(Paths, StringEndsWithTable, ::testing::ValuesIn(kEndsWith));

}  // namespace
