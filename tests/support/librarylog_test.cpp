// The console echo and the library log "VelaLib.log", on the stand-in's
// console capture and disk folder.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <utime.h>

#include <string>
#include <vector>

#include "emutest.h"
#include "support/velalib.h"

namespace {

using namespace std::string_literals;

constexpr long long kReferenceLinux = 1456751100;  // 2016-02-29 13:05:00 UTC

std::string visible(const std::string &bytes) {
    std::string s;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            s += (char)c;
        } else {
            snprintf(hex, sizeof hex, "\\x%02X", c);
            s += hex;
        }
    }
    return s;
}

// ---- PrintNet ---------------------------------------------------------

struct EchoCase {
    const char *label;
    int firstPts;       // first pseudo-terminal that opens, -1 none
    std::string text;
    std::string console;  // what reaches the console
};

const std::vector<EchoCase> kEchoes = {
    {"FirstTerminal", 0, "hello\n", "hello\n\0"s},
    {"FourthTerminal", 3, "hello\n", "hello\n\0"s},
    {"LastTerminal", 19, "hello\n", "hello\n\0"s},
    {"TerminalTwentyIsNeverUsed", 20, "hello\n", ""},
    {"NoTerminal", -1, "hello\n", ""},
    {"EmptyText", 0, "", "\0"s},
    {"BytesAsTheyAre", 0, "K\xE4se \x01\x7F", "K\xE4se \x01\x7F\0"s},
};

std::ostream &operator<<(std::ostream &o, const EchoCase &c) { return o << c.label; }

class PrintNetTest : public EmuTest, public ::testing::WithParamInterface<EchoCase> {
protected:
    void configure(EmuOptions &o) override { o.firstPts = GetParam().firstPts; }
};

TEST_P(PrintNetTest, TextAndZeroByteReachOneTerminal) {
    PrintNet(GetParam().text.c_str());
    EXPECT_EQ(visible(GetParam().console), visible(console())) << GetParam().label;
}

TEST_P(PrintNetTest, EveryCallEchoesAgain) {
    PrintNet(GetParam().text.c_str());
    PrintNet(GetParam().text.c_str());
    EXPECT_EQ(visible(GetParam().console + GetParam().console), visible(console())) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(PrintNet, PrintNetTest, ::testing::ValuesIn(kEchoes),
                         [](const ::testing::TestParamInfo<EchoCase> &i) { return std::string(i.param.label); });

using PrintNetNull = EmuTest;

TEST_F(PrintNetNull, NullTextEchoesNothing) {
    PrintNet(nullptr);
    EXPECT_EQ("", visible(console()));
}

// ---- LogEntryVelaLibPrintf --------------------------------------------

class LibraryLog : public EmuTest {
protected:
    std::string settings() const { return disk("/ProgramFiles/Settings"); }
    std::string logFile() const { return disk("/ProgramFiles/Settings/VelaLib.log"); }
    void enableLog(const std::string &content = "") {
        makeDirs(settings());
        writeFile(logFile(), content);
        struct utimbuf old = {1000000000, 1000000000};
        ASSERT_EQ(0, utime(logFile().c_str(), &old)) << strerror(errno);
    }
    // Check before reading the file: a read moves its access time.
    void expectFileTimes(long long expected) {
        struct stat st;
        ASSERT_EQ(0, stat(logFile().c_str(), &st));
        EXPECT_EQ(expected, (long long)st.st_atime);
        EXPECT_EQ(expected, (long long)st.st_mtime);
    }
};

// A format the compiler does not see as a constant.
const char *noFormat() {
    static const char *volatile none = nullptr;
    return none;
}

TEST_F(LibraryLog, AbsentLogIsNotCreated) {
    LogEntryVelaLibPrintf(0, "dropped %d characters", 3);
    struct stat st;
    ASSERT_EQ(0, stat(settings().c_str(), &st)) << "the Settings folder is made";
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_FALSE(fileExists(logFile()));
    EXPECT_EQ("", visible(console()));
}

TEST_F(LibraryLog, AbsentLogStillEchoes) {
    LogEntryVelaLibPrintf(1, "dropped %d characters", 3);
    EXPECT_FALSE(fileExists(logFile()));
    EXPECT_EQ(visible("2016-02-29 13:05:09  VELALIB - dropped 3 characters\n\0"s), visible(console()));
}

TEST_F(LibraryLog, PresentLogGetsOneLinePerCall) {
    enableLog("2016-02-28 10:00:00 earlier\r\n");
    LogEntryVelaLibPrintf(0, "first");
    LogEntryVelaLibPrintf(0, "second %s", "line");
    EXPECT_EQ(visible("2016-02-28 10:00:00 earlier\r\n"
                      "2016-02-29 13:05:09 first\r\n"
                      "2016-02-29 13:05:09 second line\r\n"),
              visible(readFile(logFile())));
    EXPECT_EQ("", visible(console())) << "no echo without console";
}

TEST_F(LibraryLog, FileAndConsoleGetTheSameMessage) {
    enableLog();
    LogEntryVelaLibPrintf(1, "StrToISO: %u of %u characters dropped", 2u, 7u);
    EXPECT_EQ(visible("2016-02-29 13:05:09 StrToISO: 2 of 7 characters dropped\r\n"), visible(readFile(logFile())));
    EXPECT_EQ(visible("2016-02-29 13:05:09  VELALIB - StrToISO: 2 of 7 characters dropped\n\0"s),
              visible(console()));
}

TEST_F(LibraryLog, FileTimesAreTheReceiversMinute) {
    enableLog();
    LogEntryVelaLibPrintf(0, "x");
    expectFileTimes(kReferenceLinux);
}

TEST_F(LibraryLog, WithoutFirmwareConversionFileTimesAreFE00) {
    enableLog();
    emuHideSymbol("PvrTimeToLinux", 1);
    LogEntryVelaLibPrintf(0, "x");
    expectFileTimes(0xFE00);
    EXPECT_EQ(visible("2016-02-29 13:05:09 x\r\n"), visible(readFile(logFile())));
}

TEST_F(LibraryLog, NullFormatDoesNothing) {
    LogEntryVelaLibPrintf(1, noFormat());
    EXPECT_FALSE(fileExists(settings())) << "not even the folder is made";
    EXPECT_EQ("", visible(console()));

    enableLog("kept\r\n");
    LogEntryVelaLibPrintf(1, noFormat());
    expectFileTimes(1000000000);
    EXPECT_EQ(visible("kept\r\n"), visible(readFile(logFile())));
    EXPECT_EQ("", visible(console()));
}

TEST_F(LibraryLog, LongMessageIsCutTo511Characters) {
    enableLog();
    std::string longText(700, 'a');
    LogEntryVelaLibPrintf(1, "%s", longText.c_str());
    std::string kept(511, 'a');
    EXPECT_EQ("2016-02-29 13:05:09 " + kept + "\r\n", readFile(logFile()));
    EXPECT_EQ("2016-02-29 13:05:09  VELALIB - " + kept + "\n" + "\0"s, console());
}

TEST_F(LibraryLog, MissingFolderIsMadeButNotTheLog) {
    // The folder comes back, the log does not.
    ASSERT_FALSE(fileExists(settings()));
    LogEntryVelaLibPrintf(1, "x");
    EXPECT_TRUE(fileExists(settings()));
    EXPECT_FALSE(fileExists(logFile()));
}

class LibraryLogNoTerminal : public LibraryLog {
protected:
    void configure(EmuOptions &o) override { o.firstPts = -1; }
};

TEST_F(LibraryLogNoTerminal, FileIsWrittenWithoutConsole) {
    enableLog();
    LogEntryVelaLibPrintf(1, "quiet");
    EXPECT_EQ(visible("2016-02-29 13:05:09 quiet\r\n"), visible(readFile(logFile())));
    EXPECT_EQ("", visible(console()));
}

// Messages as printf formats them.
struct MessageCase {
    const char *label;
    void (*write)();
    const char *message;
};

const std::vector<MessageCase> kMessages = {
    {"Plain", [] { LogEntryVelaLibPrintf(1, "plain text"); }, "plain text"},
    {"Numbers", [] { LogEntryVelaLibPrintf(1, "%d/%u/%02X", -4, 17u, 10u); }, "-4/17/0A"},
    {"Percent", [] { LogEntryVelaLibPrintf(1, "100%%"); }, "100%"},
    {"Empty", [] { LogEntryVelaLibPrintf(1, "%s", ""); }, ""},
    {"Latin1", [] { LogEntryVelaLibPrintf(1, "%s", "Gr\xFC\xDF" "e"); }, "Gr\xFC\xDF" "e"},
};

std::ostream &operator<<(std::ostream &o, const MessageCase &c) { return o << c.label; }

class LibraryLogMessage : public LibraryLog, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(LibraryLogMessage, IsFormattedLikePrintf) {
    enableLog();
    GetParam().write();
    std::string m = GetParam().message;
    EXPECT_EQ(visible("2016-02-29 13:05:09 " + m + "\r\n"), visible(readFile(logFile()))) << GetParam().label;
    EXPECT_EQ(visible("2016-02-29 13:05:09  VELALIB - " + m + "\n" + "\0"s), visible(console()))
        << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(LibraryLog, LibraryLogMessage, ::testing::ValuesIn(kMessages),
                         [](const ::testing::TestParamInfo<MessageCase> &i) { return std::string(i.param.label); });

// The receiver's clock decides the stamp and the file times.
struct ClockCase {
    int year, month, day, hour, minute, second;
    const char *stamp;
    long long linuxMinute;
};

const std::vector<ClockCase> kClocks = {
    {2016, 2, 29, 13, 5, 9, "2016-02-29 13:05:09", 1456751100},
    {2020, 7, 1, 8, 30, 59, "2020-07-01 08:30:59", 1593592200},
    {2000, 1, 1, 0, 0, 0, "2000-01-01 00:00:00", 946684800},
};

std::ostream &operator<<(std::ostream &o, const ClockCase &c) { return o << c.stamp; }

class LibraryLogClock : public LibraryLog, public ::testing::WithParamInterface<ClockCase> {};

TEST_P(LibraryLogClock, StampsAndTimesTheLine) {
    const ClockCase &c = GetParam();
    emuSetTime(c.year, c.month, c.day, c.hour, c.minute, c.second);
    enableLog();
    LogEntryVelaLibPrintf(1, "tick");
    expectFileTimes(c.linuxMinute);
    EXPECT_EQ(std::string(c.stamp) + " tick\r\n", readFile(logFile())) << c.stamp;
    EXPECT_EQ(std::string(c.stamp) + "  VELALIB - tick\n" + "\0"s, console()) << c.stamp;
}

INSTANTIATE_TEST_SUITE_P(LibraryLog, LibraryLogClock, ::testing::ValuesIn(kClocks));

}  // namespace
