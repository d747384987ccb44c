// Conversion of DVB text to UTF-8 on a receiver: selectors, tables, the
// ISO 6937 diacritical pairs with their messages, and the test for a
// UTF-8 firmware.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "emutest.h"
#include "iconv_reference.h"
#include "support/velalib.h"
#include "text_helpers.h"

namespace {

std::string utf8(uint32_t u) {
    char out[4];
    byte n;
    UTF32ToUTF8(u, out, &n);
    return std::string(out, n);
}

std::string pairMessage(int mark, int letter) {
    char m[96];
    snprintf(m, sizeof m, "StrToUTF8: ISO6937 diacritical char %02x %02x has been ignored", mark, letter);
    return m;
}

// Runs StrToUTF8 on bytes (terminator added) into a guarded buffer of 3
// bytes per source byte plus 1; returns the result and the destination up
// to and including its first zero byte.
struct Converted {
    int result;
    std::string text;
};
Converted convert(const std::string &bytes, byte table) {
    std::string source = bytes + '\0';
    std::vector<char> out(3 * source.size() + 1 + 8, 0x55);
    Converted c;
    c.result = StrToUTF8(source.data(), out.data(), table);
    for (size_t i = 3 * source.size() + 1; i < out.size(); i++)
        EXPECT_EQ(0x55, out[i]) << hex(bytes) << ": written past the room of the source at " << i;
    c.text = std::string(out.data(), strnlen(out.data(), 3 * source.size() + 1) + 1);
    return c;
}

// ---- Conversion cases -------------------------------------------------------

struct Utf8Case {
    const char *name;
    std::string source;
    int table;
    std::string expected;  // the destination read as a string
    int result;
    std::vector<std::string> ignored;  // "mm ll" of each dropped pair, in order
};

void PrintTo(const Utf8Case &c, std::ostream *os) { *os << c.name; }

std::vector<Utf8Case> utf8Cases() {
    return {
        {"Empty", "", 0, "", 1, {}},
        {"AsciiAndUtf8Copied", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 0,
         "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 0, {}},
        {"AcuteE", "\xC2" "e", 0, "\xC3\xA9", 1, {}},
        {"DiaeresisU", "\xC8" "u", 0, "\xC3\xBC", 1, {}},
        {"PairsInAWord", "M\xC8" "unchen, Gen\xC1" "eve", 0, "M\xC3\xBC" "nchen, Gen\xC3\xA8" "ve", 1, {}},
        {"MacronADropped", "x\xC5" "ay", 0, "xy", 1, {"c5 61"}},
        {"MarkBeforeMarkDropped", "\xC2\xC2" "e", 0, "e", 1, {"c2 c2"}},
        {"UnassignedMarkDropped", "\xC9" "a\xCC" "b\xC0" "c.", 0, ".", 1, {"c9 61", "cc 62", "c0 63"}},
        {"MarkBeforeContinuationIsUtf8", "\xC2\xA9", 0, "\xC2\xA9", 0, {}},
        {"LastByteMarkDropped", "ab\xC2", 0, "ab", 1, {"c2 00"}},
        {"Euro", "\xA4", 0, "\xE2\x82\xAC", 1, {}},
        {"Eth", "\xF3", 0, "\xC3\xB0", 1, {}},
        {"C1ControlsBecomeCodePoints", "\x80\x9F", 0, "\xC2\x80\xC2\x9F", 1, {}},
        {"Selector05DefaultTable0", "\x05\xDD", 0, "\xC4\xB0", 1, {}},
        {"Selector05DefaultTable1", "\x05\xDD", 1, "\xC4\xB0", 1, {}},
        {"Selector05DefaultTable9", "\x05\xDD", 9, "\xC4\xB0", 1, {}},
        {"Selector10Part2", "\x10\x00\x02" "\xA1"_b, 0, "\xC4\x84", 1, {}},
        {"Selector10Part12NoPairs", "\x10\x00\x0C" "\xC2" "e"_b, 0, "\xCC\x81" "e", 1, {}},
        {"Selector08NoPairs", "\x08\xC2" "e", 0, "\xCC\x81" "e", 1, {}},
        {"Table12NoPairs", "\xC2" "e", 12, "\xCC\x81" "e", 1, {}},
        {"Table17NoPairs", "\xC2" "e", 17, "\xCC\x81" "e", 1, {}},
        {"Table255Iso6937", "\xA4\xC8", 255, "\xE2\x82\xAC\xCC\x88", 1, {}},
        {"Selector15CopiesUtf8", "\x15" "abc", 0, "abc", 0, {}},
        {"Selector15CopiesAnyBytes", "\x15" "\xE9\xC2" "e", 0, "\xE9\xC2" "e", 0, {}},
        {"Selector1FUsesDefault", "\x1F\x01" "\xC2" "e", 0, "\xC3\xA9", 1, {}},
        {"Selector0CUsesDefault", "\x0C\xA1", 2, "\xC4\x84", 1, {}},
        {"Selector11UsesDefaultPairs", "\x11\xC2" "e", 0, "\xC3\xA9", 1, {}},
        {"NoSelectorUsesDefault", " \xA1", 2, " \xC4\x84", 1, {}},
        {"UnassignedEndsTheString", "\x02" "a\xA1" "b", 0, "a", 1, {}},
        {"SelectorOnly", "\x05", 0, "", 0, {}},
        {"LoneTwoByteSelector", "\x1F", 0, "", 0, {}},
        {"ThreeByteSelectorWithoutPart", "\x10\x00\x00"_b, 0, "", 0, {}},
    };
}

class StrToUTF8Test : public EmuTest, public ::testing::WithParamInterface<Utf8Case> {};

TEST_P(StrToUTF8Test, ConvertsAndReportsDroppedPairs) {
    const Utf8Case &c = GetParam();
    Converted r = convert(c.source, (byte)c.table);
    EXPECT_EQ(hex(c.expected + '\0'), hex(r.text)) << c.name;
    EXPECT_EQ(c.result, r.result) << c.name;
    std::string console = this->console();
    EXPECT_EQ(c.ignored.size(), count(console, "StrToUTF8:")) << c.name << "\n" << console;
    size_t at = 0;
    for (const std::string &pair : c.ignored) {
        at = console.find("VELALIB - StrToUTF8: ISO6937 diacritical char " + pair + " has been ignored\n", at);
        EXPECT_NE(std::string::npos, at) << c.name << ": no message for " << pair << " in order";
    }
}
INSTANTIATE_TEST_SUITE_P(StrToUTF8, StrToUTF8Test, ::testing::ValuesIn(utf8Cases()),
                         [](const ::testing::TestParamInfo<Utf8Case> &info) { return std::string(info.param.name); });

class StrToUTF8Bounds : public EmuTest {};

// A mark at the end of the text must not take the byte behind the
// terminator as its letter.
TEST_F(StrToUTF8Bounds, MarkAtTheEndReadsNothingBehindIt) {
    const char source[] = "ab\xC2\0e";
    char out[16];
    memset(out, 0x55, sizeof out);
    EXPECT_EQ(1, StrToUTF8(source, out, 0));
    EXPECT_STREQ("ab", out);
    EXPECT_EQ(1u, count(console(), pairMessage(0xC2, 0x00)));
}

TEST(StrToUTF8Null, NullArgumentsGiveZeroAndWriteNothing) {
    char out[4] = {'x', 'y', 'z', 0};
    EXPECT_EQ(0, StrToUTF8(nullptr, out, 0));
    EXPECT_STREQ("xyz", out);
    EXPECT_EQ(0, StrToUTF8("abc", nullptr, 0));
}

// ---- Selectors --------------------------------------------------------------

const word *iso8859(int part) {
    static const std::map<int, const word *> tables = {
        {1, UTFLookupISO8859_1},   {2, UTFLookupISO8859_2},   {3, UTFLookupISO8859_3},
        {4, UTFLookupISO8859_4},   {5, UTFLookupISO8859_5},   {6, UTFLookupISO8859_6},
        {7, UTFLookupISO8859_7},   {8, UTFLookupISO8859_8},   {9, UTFLookupISO8859_9},
        {10, UTFLookupISO8859_10}, {11, UTFLookupISO8859_11}, {13, UTFLookupISO8859_13},
        {14, UTFLookupISO8859_14}, {15, UTFLookupISO8859_15}, {16, UTFLookupISO8859_16}};
    auto t = tables.find(part);
    return t == tables.end() ? UTFLookupISO6937 : t->second;
}

struct SelectorCase {
    std::string selector;
    int table;  // the table number it selects with default table 3
};

void PrintTo(const SelectorCase &c, std::ostream *os) { *os << "selector " << hex(c.selector); }

std::vector<SelectorCase> selectorCases() {
    std::vector<SelectorCase> cases;
    for (int b = 0x01; b <= 0x1F; b++) {
        if (b == 0x10 || b == 0x15) continue;
        std::string s(1, (char)b);
        if (b == 0x1F) s += "\x01";
        cases.push_back({s, b <= 0x0B ? b + 4 : 3});
    }
    for (int part = 1; part <= 0x12; part++) cases.push_back({"\x10\x00"_b + (char)part, part});
    cases.push_back({"", 3});
    return cases;
}

class StrToUTF8Selector : public ::testing::TestWithParam<SelectorCase> {};

// Every byte from 0xA0 up becomes the code point of the selected table;
// table 0 and 12 and up look in the ISO 6937 table (pairs are tested
// apart, so the marks are left out for table 0).
TEST_P(StrToUTF8Selector, PicksTheTableOfTheSelector) {
    const SelectorCase &c = GetParam();
    const word *table = iso8859(c.table);
    for (int b = 0xA0; b <= 0xFF; b++) {
        if (c.table == 0 && b >= 0xC0 && b <= 0xCF) continue;
        Converted r = convert(c.selector + (char)b, 3);
        word u = table[b - 0xA0];
        std::string expected = u ? utf8(u) + '\0' : "\x00"_b;
        EXPECT_EQ(hex(expected), hex(r.text)) << "selector " << hex(c.selector) << ", byte " << std::hex << b;
        EXPECT_EQ(1, r.result);
    }
}
INSTANTIATE_TEST_SUITE_P(StrToUTF8, StrToUTF8Selector, ::testing::ValuesIn(selectorCases()));

// ---- Diacritical pairs, against glibc's ISO 6937 ------------------------

class StrToUTF8Pairs : public EmuTest, public ::testing::WithParamInterface<int> {
protected:
    // What glibc composes for this mark and each byte 0x20..0x7E, worked
    // out before the receiver starts.
    static std::map<int, std::vector<std::vector<uint32_t>>> reference;
    static void SetUpTestSuite() {
        for (int mark = 0xC0; mark <= 0xCF; mark++) {
            std::vector<std::string> inputs;
            for (int letter = 0x20; letter <= 0x7E; letter++) inputs.push_back({(char)mark, (char)letter});
            reference[mark] = iconvref::decodeEach("ISO_6937", inputs);
        }
    }
};
std::map<int, std::vector<std::vector<uint32_t>>> StrToUTF8Pairs::reference;

// A mark and a letter that compose to a Latin-1 letter give its UTF-8
// form; a mark before anything else (but a continuation byte, which
// makes UTF-8) gives nothing and one message.
TEST_P(StrToUTF8Pairs, ComposeLatin1LettersAndReportTheRest) {
    int mark = GetParam();
    std::vector<std::string> messages;
    int composed = 0;
    for (int second = 0x01; second <= 0xFF; second++) {
        if (second >= 0x80 && second <= 0xBF) continue;
        std::string expected;
        if (second >= 0x20 && second <= 0x7E) {
            const std::vector<uint32_t> &glibc = reference[mark][second - 0x20];
            if (glibc.size() == 1 && glibc[0] >= 0xC0 && glibc[0] <= 0xFF) expected = utf8(glibc[0]);
        }
        Converted r = convert(std::string{(char)mark, (char)second}, 0);
        EXPECT_EQ(hex(expected + '\0'), hex(r.text)) << std::hex << mark << " " << second;
        EXPECT_EQ(1, r.result) << std::hex << mark << " " << second;
        if (expected.empty()) messages.push_back(pairMessage(mark, second));
        else composed++;
    }
    std::string console = this->console();
    EXPECT_EQ(messages.size(), count(console, "StrToUTF8:"));
    size_t at = 0;
    for (const std::string &m : messages) {
        at = console.find(m, at);
        ASSERT_NE(std::string::npos, at) << "missing in order: " << m;
    }
    static const std::map<int, int> lettersPerMark = {{0xC1, 10}, {0xC2, 12}, {0xC3, 10}, {0xC4, 6},
                                                      {0xC8, 11}, {0xCA, 2},  {0xCB, 2}};
    auto n = lettersPerMark.find(mark);
    EXPECT_EQ(n == lettersPerMark.end() ? 0 : n->second, composed) << std::hex << mark;
}
INSTANTIATE_TEST_SUITE_P(StrToUTF8, StrToUTF8Pairs, ::testing::Range(0xC0, 0xD0),
                         [](const ::testing::TestParamInfo<int> &info) {
                             char name[8];
                             snprintf(name, sizeof name, "Mark%02X", info.param);
                             return std::string(name);
                         });

class StrToUTF8Log : public EmuTest {};

TEST_F(StrToUTF8Log, MessageReachesLibraryLogAndConsole) {
    makeDirs(disk("/ProgramFiles/Settings"));
    writeFile(disk("/ProgramFiles/Settings/VelaLib.log"), "");
    char out[16];
    EXPECT_EQ(1, StrToUTF8("\xC5" "a", out, 0));
    EXPECT_STREQ("", out);
    const std::string message = "StrToUTF8: ISO6937 diacritical char c5 61 has been ignored";
    EXPECT_EQ(stamp() + " " + message + "\r\n", readFile(disk("/ProgramFiles/Settings/VelaLib.log")));
    EXPECT_EQ(stamp() + "  VELALIB - " + message + "\n" + '\0', console());
}

// ---- isUTFToppy ---------------------------------------------------------

struct FirmwareCase {
    const char *name;
    int utf8Firmware;
};

void PrintTo(const FirmwareCase &c, std::ostream *os) { *os << c.name; }

class IsUTFToppyTest : public EmuTest, public ::testing::WithParamInterface<FirmwareCase> {
protected:
    void configure(EmuOptions &o) override { o.utf8Firmware = GetParam().utf8Firmware; }
};

TEST_P(IsUTFToppyTest, AsksTheFirmwareOnceAndKeepsTheAnswer) {
    const char *symbol = "_Z26Appl_ConvertToValidUTF8StrPhi";
    unsigned before = emuLookupCount(symbol);
    for (int i = 0; i < 5; i++) EXPECT_EQ(GetParam().utf8Firmware, isUTFToppy()) << "call " << i;
    EXPECT_EQ(before + 1, emuLookupCount(symbol));
}
INSTANTIATE_TEST_SUITE_P(IsUTFToppy, IsUTFToppyTest,
                         ::testing::ValuesIn(std::vector<FirmwareCase>{{"Utf8Firmware", 1}, {"OlderFirmware", 0}}),
                         [](const ::testing::TestParamInfo<FirmwareCase> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
