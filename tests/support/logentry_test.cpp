// The log writer: one line appended to a log file on the disk, byte for
// byte, and its echo on the console in pieces (each console write is
// followed there by its zero byte), on a real disk folder with the
// receiver's clock at 2016-02-29 13:05:09.
#include <dirent.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "emutest.h"
#include "support/velalib.h"

namespace {

using namespace std::string_literals;

const std::string kStamp = "2016-02-29 13:05:09 ";

size_t changeDirCalls(const std::vector<std::string> &lines) {
    size_t n = 0;
    for (const std::string &line : lines)
        if (line.rfind("TAP_Hdd_ChangeDir ", 0) == 0) n++;
    return n;
}

// Every file and folder below a host folder, with its size.
void listTree(const std::string &dir, std::vector<std::string> &entries) {
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        entries.push_back(path + " " + std::to_string(st.st_size));
        if (S_ISDIR(st.st_mode)) listTree(path, entries);
    }
    closedir(d);
}

// The installer's setting: its log folder exists and is the working
// directory when it writes a line.
class LogFixture : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        makeDirs(disk("/ProgramFiles/Settings/Logs"));
        ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("/ProgramFiles/Settings/Logs"));
    }
    std::vector<std::string> diskTree() const {
        std::vector<std::string> entries;
        listTree(diskDir, entries);
        return entries;
    }
};

struct LineCase {
    const char *name;
    const char *fileName;
    const char *programName;
    int console;
    unsigned format;
    std::string text;
    const char *written;  // firmware path of the file that gets the line, or null for none
    std::string fileBytes;
    std::string consoleBytes;
};

void PrintTo(const LineCase &c, std::ostream *os) { *os << c.name; }

const std::string kStart = "Starting installation.";
const char *const kLog = "/ProgramFiles/Settings/Logs/Zephyrdesk-Install.log";

const LineCase kLines[] = {
    {"StampTextCrLf", "Zephyrdesk-Install.log", "Zephyrdesk-Install", 1, 5, kStart, kLog,
     kStamp + kStart + "\r\n", kStamp + "\0Zephyrdesk-Install: \0"s + kStart + "\0\n\0"s},
    {"EmptyText", "Zephyrdesk-Install.log", "Zephyrdesk-Install", 1, 5, "", kLog, kStamp + "\r\n",
     kStamp + "\0Zephyrdesk-Install: \0\n\0"s},
    {"CodeZeroHasNoStamp", "Zephyrdesk-Install.log", "Zephyrdesk-Install", 1, 0, kStart, kLog,
     kStart + "\r\n", "Zephyrdesk-Install: \0"s + kStart + "\0\n\0"s},
    {"CodeSevenEchoesAnEmptyStamp", "Zephyrdesk-Install.log", "Zephyrdesk-Install", 1, 7, kStart, kLog,
     kStart + "\r\n", "\0Zephyrdesk-Install: \0"s + kStart + "\0\n\0"s},
    {"CodeOne", "Zephyrdesk-Install.log", "Zephyrdesk-Install", 1, 1, kStart, kLog, "13:05 " + kStart + "\r\n",
     "13:05 \0Zephyrdesk-Install: \0"s + kStart + "\0\n\0"s},
    {"NoProgramName", "Zephyrdesk-Install.log", nullptr, 1, 5, kStart, kLog, kStamp + kStart + "\r\n",
     kStamp + "\0"s + kStart + "\0\n\0"s},
    {"EmptyProgramName", "Zephyrdesk-Install.log", "", 1, 5, kStart, kLog, kStamp + kStart + "\r\n",
     kStamp + "\0"s + kStart + "\0\n\0"s},
    {"ConsoleOff", "Zephyrdesk-Install.log", "Zephyrdesk-Install", 0, 5, kStart, kLog,
     kStamp + kStart + "\r\n", ""},
    {"TapFilePath", "/ProgramFiles/Settings/other.log", "P", 1, 5, "x", "/ProgramFiles/Settings/other.log",
     kStamp + "x\r\n", kStamp + "\0P: \0x\0\n\0"s},
    {"LinuxFilePath", "/mnt/hd/ProgramFiles/other.log", "P", 1, 5, "x", "/ProgramFiles/other.log",
     kStamp + "x\r\n", kStamp + "\0P: \0x\0\n\0"s},
    {"MissingFolderStillEchoes", "/ProgramFiles/NoSuch/x.log", "P", 1, 5, "x", nullptr, "",
     kStamp + "\0P: \0x\0\n\0"s},
    {"NoFileName", nullptr, "P", 1, 5, "x", nullptr, "", kStamp + "\0P: \0x\0\n\0"s},
    {"EmptyFileName", "", "P", 1, 5, "x", nullptr, "", kStamp + "\0P: \0x\0\n\0"s},
    {"Utf8TextInIsoOnTheConsole", "Zephyrdesk-Install.log", "P", 1, 5, "Gr\xC3\xBC\xC3\x9F" "e", kLog,
     kStamp + "Gr\xC3\xBC\xC3\x9F" "e\r\n", kStamp + "\0P: \0Gr\xFC\xDF" "e\0\n\0"s},
    {"AboveLatin1OnlyInTheFile", "Zephyrdesk-Install.log", "P", 1, 5, "a\xE2\x82\xAC" "b", kLog,
     kStamp + "a\xE2\x82\xAC" "b\r\n",
     kStamp + "\0P: \0"s + kStamp + " VELALIB - StrToISO: character 0x20ac ignored\n\0"s + "ab\0\n\0"s},
};

class LogEntryLines : public CasesEachConvention<LogFixture, LineCase> {};

TEST_P(LogEntryLines, WritesTheFileLineThenEchoesThePieces) {
    const LineCase &c = param();
    std::vector<std::string> before = diskTree();
    size_t traced = trace().size();
    unsigned heapBefore = emuHeapBlocksInUse();

    LogEntry(c.fileName, c.programName, c.console, c.format, c.text.c_str());

    if (c.written) {
        EXPECT_EQ(c.fileBytes, readFile(disk(c.written))) << c.name;
    } else {
        EXPECT_EQ(before, diskTree()) << c.name << ": a file was touched";
    }
    EXPECT_EQ(c.consoleBytes, console()) << c.name;
    EXPECT_EQ(0u, changeDirCalls(traceFrom(traced))) << c.name;
    char dir[PATH_BUFFER_SIZE] = "";
    HDD_TAP_GetCurrentDir(dir);
    EXPECT_EQ(recorded("/ProgramFiles/Settings/Logs"), dir) << c.name;
    EXPECT_EQ(heapBefore, emuHeapBlocksInUse()) << c.name << ": heap blocks not given back";
    EXPECT_EQ(-1, TAPDirStackDepth) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Log, LogEntryLines, CASES_EACH_CONVENTION(kLines, LineCase));

// Long texts reach the console in pieces of at most 510 bytes; the file
// gets them whole.
struct PiecesCase {
    size_t length;
    std::vector<size_t> pieces;
};

void PrintTo(const PiecesCase &c, std::ostream *os) { *os << c.length << " bytes"; }

const PiecesCase kPieces[] = {
    {1, {1}},
    {510, {510}},
    {511, {510, 1}},
    {1020, {510, 510}},
    {1100, {510, 510, 80}},
};

class LogEntryPieces : public LogFixture, public ::testing::WithParamInterface<PiecesCase> {};

TEST_P(LogEntryPieces, EchoesLongTextsInPiecesOf510Bytes) {
    const PiecesCase &c = GetParam();
    std::string text;
    for (size_t i = 0; i < c.length; i++) text += (char)('A' + i % 26);

    LogEntry("Zephyrdesk-Install.log", "Zephyrdesk-Install", 1, 5, text.c_str());

    std::string expected = kStamp + "\0Zephyrdesk-Install: \0"s;
    size_t at = 0;
    for (size_t piece : c.pieces) {
        expected += text.substr(at, piece) + "\0"s;
        at += piece;
    }
    expected += "\n\0"s;
    EXPECT_EQ(expected, console()) << c.length << " bytes";
    EXPECT_EQ(kStamp + text + "\r\n", readFile(disk(kLog))) << c.length << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Log, LogEntryPieces, ::testing::ValuesIn(kPieces));

using LogEntryTest = LogFixture;

TEST_F(LogEntryTest, AppendsToWhatIsThere) {
    writeFile(disk(kLog), "earlier line\r\n");
    LogEntry("Zephyrdesk-Install.log", "Zephyrdesk-Install", 0, 5, "one");
    emuSetTime(2016, 3, 1, 0, 0, 1);
    LogEntry("Zephyrdesk-Install.log", "Zephyrdesk-Install", 0, 5, "two");
    EXPECT_EQ("earlier line\r\n" + kStamp + "one\r\n2016-03-01 00:00:01 two\r\n", readFile(disk(kLog)));
}

TEST_F(LogEntryTest, NullTextDoesNothing) {
    std::vector<std::string> before = diskTree();
    LogEntry("Zephyrdesk-Install.log", "Zephyrdesk-Install", 1, 5, nullptr);
    EXPECT_EQ(before, diskTree());
    EXPECT_EQ("", console());
}

TEST_F(LogEntryTest, FileCarriesTheReceiversTimeInWholeMinutes) {
    LogEntry("Zephyrdesk-Install.log", "Zephyrdesk-Install", 0, 5, "x");
    struct stat st;
    ASSERT_EQ(0, stat(disk(kLog).c_str(), &st));
    time_t receiver = (time_t)PvrTimeToLinux(Now(nullptr));
    EXPECT_EQ(receiver, st.st_mtime);
    EXPECT_EQ(receiver, st.st_atime);
    EXPECT_EQ(0, st.st_mtime % 60);
    EXPECT_GT(std::abs((long long)(time(nullptr) - st.st_mtime)), 3600LL) << "the PC's clock, not the receiver's";
}

// Without heap for the ISO copy the text is missing from the echo only.
TEST_F(LogEntryTest, NoHeapForTheCopyLeavesOutOnlyTheEchoedText) {
    emuSetHeapLimit(1);
    LogEntry("Zephyrdesk-Install.log", "P", 1, 5, kStart.c_str());
    emuSetHeapLimit(0);
    EXPECT_EQ(kStamp + kStart + "\r\n", readFile(disk(kLog)));
    EXPECT_EQ(kStamp + "\0P: \0\n\0"s, console());
}

TEST_F(LogEntryTest, EveryCharacterAboveLatin1IsReportedBeforeTheText) {
    LogEntry(nullptr, "P", 1, 0, "\xE2\x82\xAC" "x\xE0\xB8\x81");
    EXPECT_EQ("P: \0"s + kStamp + " VELALIB - StrToISO: character 0x20ac ignored\n\0"s + kStamp +
                  " VELALIB - StrToISO: character 0x0e01 ignored\n\0"s + "x\0\n\0"s,
              console());
}

}  // namespace
