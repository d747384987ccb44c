// Conversion of UTF-8 text to ISO 8859-1 on a receiver: the converted
// bytes, what is left alone, and the library-log message for every
// character that ISO 8859-1 cannot hold.
#include <cstring>
#include <string>
#include <vector>

#include "emutest.h"
#include "support/velalib.h"
#include "text_helpers.h"

namespace {

struct IsoCase {
    const char *name;
    std::string source;               // without its terminator
    std::string expected;             // without its terminator
    std::vector<std::string> dropped; // code points in the messages, as printed
};

void PrintTo(const IsoCase &c, std::ostream *os) { *os << c.name; }

std::vector<IsoCase> isoCases() {
    return {
        {"Utf8Word", "Gr\xC3\xBC\xC3\x9F" "e", "Gr\xFC\xDF" "e", {}},
        {"IsoWordUnchanged", "Gr\xFC\xDF" "e", "Gr\xFC\xDF" "e", {}},
        {"AsciiUnchanged", "Hello, world", "Hello, world", {}},
        {"Empty", "", "", {}},
        {"EuroDropped", "10 \xE2\x82\xAC", "10 ", {"20ac"}},
        {"EachDropReported", "\xE2\x82\xAC\xE2\x80\x9C" "x\xE2\x80\x9D", "x", {"20ac", "201c", "201d"}},
        {"FourByteDropped", "a\xF0\x9F\x98\x80" "b\xC3\xA9", "ab\xE9", {"1f600"}},
        {"LastLatin1Kept", "\xC3\xBF\xC4\x80", "\xFF", {"0100"}},
        {"MixedTextUnchanged", "\xC3\xA9 \xE9", "\xC3\xA9 \xE9", {}},
        {"LoneLeadByteMeansSingleByteText", "\xC3(\xC3\xA9", "\xC3(\xC3\xA9", {}},
        {"StrayContinuationByteKept", "\x80\xC3\xA9", "\x80\xE9", {}},
        {"SelectorKept", "\x15" "Gr\xC3\xBC\xC3\x9F" "e", "\x15" "Gr\xFC\xDF" "e", {}},
        {"ThreeByteSelectorKeptWhole", "\x10\x00\x02" "caf\xC3\xA9"_b, "\x10\x00\x02" "caf\xE9"_b, {}},
        {"ThreeByteSelectorSingleByteText", "\x10\x00\x02" "\xB1"_b, "\x10\x00\x02" "\xB1"_b, {}},
        {"TwoByteSelectorKept", "\x1F\x01" "\xE2\x82\xAC" "a", "\x1F\x01" "a", {"20ac"}},
    };
}

class StrToISOTest : public EmuTest, public ::testing::WithParamInterface<IsoCase> {};

TEST_P(StrToISOTest, ConvertsAndReportsWhatItDrops) {
    const IsoCase &c = GetParam();
    std::string source = c.source + '\0';
    // Room for the source and its terminator, and a guard behind it.
    std::vector<char> out(source.size() + 8, 0x55);
    StrToISO(source.data(), out.data());
    EXPECT_EQ(hex(c.expected + '\0'), hex(std::string(out.data(), c.expected.size() + 1))) << c.name;
    for (size_t i = source.size(); i < out.size(); i++) EXPECT_EQ(0x55, out[i]) << c.name << ": byte " << i;

    std::string console = this->console();
    EXPECT_EQ(c.dropped.size(), count(console, "StrToISO: character")) << c.name << "\n" << console;
    size_t at = 0;
    for (const std::string &codePoint : c.dropped) {
        at = console.find("VELALIB - StrToISO: character 0x" + codePoint + " ignored\n", at);
        EXPECT_NE(std::string::npos, at) << c.name << ": no message for " << codePoint << " in order";
    }
}

TEST_P(StrToISOTest, AllocGivesTheSameTextInABlockOfItsOwn) {
    const IsoCase &c = GetParam();
    std::string source = c.source + '\0';
    char *result = (char *)1;
    StrToISOAlloc(source.data(), &result);
    ASSERT_NE(nullptr, result) << c.name;
    EXPECT_EQ(hex(c.expected + '\0'), hex(std::string(result, c.expected.size() + 1))) << c.name;
    EXPECT_NE(source.data(), result);
    TAP_MemFree(result);
    EXPECT_EQ(c.dropped.size(), count(console(), "StrToISO: character")) << c.name;
}

INSTANTIATE_TEST_SUITE_P(StrToISO, StrToISOTest, ::testing::ValuesIn(isoCases()),
                         [](const ::testing::TestParamInfo<IsoCase> &info) { return std::string(info.param.name); });

class StrToISOLog : public EmuTest {};

// With the library log present, the message goes there too, as one line.
TEST_F(StrToISOLog, MessageReachesLibraryLogAndConsole) {
    makeDirs(disk("/ProgramFiles/Settings"));
    writeFile(disk("/ProgramFiles/Settings/VelaLib.log"), "");
    char out[16];
    StrToISO("caf\xC3\xA9 \xE2\x82\xAC", out);
    EXPECT_STREQ("caf\xE9 ", out);
    const std::string message = "StrToISO: character 0x20ac ignored";
    EXPECT_EQ(stamp() + " " + message + "\r\n", readFile(disk("/ProgramFiles/Settings/VelaLib.log")));
    EXPECT_EQ(stamp() + "  VELALIB - " + message + "\n" + '\0', console());
}

TEST_F(StrToISOLog, TextThatFitsSaysNothing) {
    makeDirs(disk("/ProgramFiles/Settings"));
    writeFile(disk("/ProgramFiles/Settings/VelaLib.log"), "");
    char out[16];
    StrToISO("caf\xC3\xA9", out);
    EXPECT_EQ("", readFile(disk("/ProgramFiles/Settings/VelaLib.log")));
    EXPECT_EQ("", console());
}

class StrToISONull : public EmuTest {};

TEST_F(StrToISONull, NullArgumentsLeaveEverythingAlone) {
    char out[4] = {'x', 'y', 'z', 0};
    StrToISO(nullptr, out);
    EXPECT_STREQ("xyz", out);
    StrToISO("\xE2\x82\xAC", nullptr);
    EXPECT_EQ("", console());

    char *result = (char *)1;
    StrToISOAlloc(nullptr, &result);
    EXPECT_EQ(nullptr, result);
    StrToISOAlloc("abc", nullptr);
}

}  // namespace
