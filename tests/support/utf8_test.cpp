// The UTF-8 primitives: selector skipping, recognising, decoding and
// encoding one character, counting characters and classifying a string.
// They need no firmware.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "iconv_reference.h"
#include "support/velalib.h"
#include "text_helpers.h"

namespace {

// ---- SkipCharTableBytes ---------------------------------------------------

struct SkipCase {
    std::string bytes;  // the string, without its terminator
    size_t offset;      // where the text starts
};

void PrintTo(const SkipCase &c, std::ostream *os) { *os << hex(c.bytes); }

std::vector<SkipCase> skipCases() {
    std::vector<SkipCase> cases = {
        {"Abc", 0},
        {"", 0},
        {" Abc", 0},
        {"\xFF" "Abc", 0},
        {"\x10\x00\x05" "abc"_b, 3},
        {"\x1F\x01" "abc", 2},
        // Selectors cut short by the terminator end at it.
        {"\x1F", 1},
        {"\x10\x00\x00"_b, 2},
        {"\x10" "a", 2},
        {"\x15", 1},
    };
    // Every selector byte, each before the text "Text".
    for (int b = 0x01; b <= 0x1F; b++) {
        std::string s(1, (char)b);
        size_t offset = 1;
        if (b == 0x10) s += "\x00\x07"_b, offset = 3;
        if (b == 0x1F) s += "\x01", offset = 2;
        cases.push_back({s + "Text", offset});
    }
    return cases;
}

class SkipCharTableBytesTable : public ::testing::TestWithParam<SkipCase> {};

TEST_P(SkipCharTableBytesTable, PointsAtTheTextAfterTheSelector) {
    const SkipCase &c = GetParam();
    std::string buffer = c.bytes + '\0';
    const char *text = SkipCharTableBytes(buffer.data());
    EXPECT_EQ(c.offset, (size_t)(text - buffer.data())) << hex(c.bytes);
}
INSTANTIATE_TEST_SUITE_P(SkipCharTableBytes, SkipCharTableBytesTable, ::testing::ValuesIn(skipCases()));

TEST(SkipCharTableBytes, NullGivesNull) { EXPECT_EQ(nullptr, SkipCharTableBytes(nullptr)); }

// ---- isUTF8Char -------------------------------------------------------------

struct CharCase {
    std::string bytes;
    bool sequence;
    int length;
    dword codePoint;  // what UTF8ToUTF32 decodes
};

void PrintTo(const CharCase &c, std::ostream *os) { *os << hex(c.bytes); }

std::vector<CharCase> charCases() {
    return {
        {"A", false, 1, 0x41},
        {"\x7F", false, 1, 0x7F},
        {"\xC3\xA9", true, 2, 0xE9},
        {"\xC3\x28", false, 1, 0xC3},  // lead byte before a non-continuation byte
        {"\xC0\x80", true, 2, 0x00},   // overlong, still a sequence
        {"\xDF\xBF", true, 2, 0x7FF},
        {"\xE2\x82\xAC", true, 3, 0x20AC},
        {"\xE0\xB8\x81", true, 3, 0x0E01},
        {"\xED\xA0\x80", true, 3, 0xD800},  // surrogate, not rejected
        {"\xF0\x9F\x98\x80", true, 4, 0x1F600},
        {"\xF4\x8F\xBF\xBF", true, 4, 0x10FFFF},
        {"\xF7\xBF\xBF\xBF", true, 4, 0x1FFFFF},  // above U+10FFFF, not rejected
        {"\xC3\xA9\xA9", true, 2, 0xE9},          // a further continuation byte is not taken
        {"\xE9", false, 1, 0xE9},                 // lead byte at the terminator
        {"\xE2\x82", false, 1, 0xE2},             // sequence cut by the terminator
        {"\xE2\x28\xAC", false, 1, 0xE2},
        {"\xF0\x9F\x98", false, 1, 0xF0},
        {"\xF0\x9F\x98" "A", false, 1, 0xF0},
        {"\x80", false, 1, 0x80},  // stray continuation byte
        {"\xBF\xBF", false, 1, 0xBF},
        {"\xF8\x88\x80\x80\x80", false, 1, 0xF8},
        {"\xFF\xBF", false, 1, 0xFF},
        {"", false, 1, 0x00},
    };
}

class Utf8CharTable : public ::testing::TestWithParam<CharCase> {};

TEST_P(Utf8CharTable, IsUTF8CharFindsCompleteSequences) {
    const CharCase &c = GetParam();
    std::string buffer = c.bytes + '\0';
    byte length = 99;
    EXPECT_EQ(c.sequence, isUTF8Char(buffer.data(), &length)) << hex(c.bytes);
    EXPECT_EQ(c.length, length) << hex(c.bytes);
    EXPECT_EQ(c.sequence, isUTF8Char(buffer.data(), nullptr)) << hex(c.bytes);
}

TEST_P(Utf8CharTable, UTF8ToUTF32DecodesOneCharacter) {
    const CharCase &c = GetParam();
    std::string buffer = c.bytes + '\0';
    byte length = 99;
    EXPECT_EQ(c.codePoint, UTF8ToUTF32(buffer.data(), &length)) << hex(c.bytes);
    EXPECT_EQ(c.length, length) << hex(c.bytes);
    EXPECT_EQ(c.codePoint, UTF8ToUTF32(buffer.data(), nullptr)) << hex(c.bytes);
}
INSTANTIATE_TEST_SUITE_P(Utf8Char, Utf8CharTable, ::testing::ValuesIn(charCases()));

TEST(Utf8Char, NullPointerIsOneByteOfNothing) {
    byte length = 99;
    EXPECT_FALSE(isUTF8Char(nullptr, &length));
    EXPECT_EQ(1, length);
    length = 99;
    EXPECT_EQ(0u, UTF8ToUTF32(nullptr, &length));
    EXPECT_EQ(1, length);
}

// ---- UTF32ToUTF8 ------------------------------------------------------------

struct EncodeCase {
    dword codePoint;
    std::string bytes;
};

void PrintTo(const EncodeCase &c, std::ostream *os) { *os << "U+" << std::hex << c.codePoint; }

class UTF32ToUTF8Table : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(UTF32ToUTF8Table, WritesTheUtf8FormWithoutTerminator) {
    const EncodeCase &c = GetParam();
    char out[8];
    memset(out, 0x55, sizeof out);
    byte length = 99;
    UTF32ToUTF8(c.codePoint, out, &length);
    ASSERT_EQ(c.bytes.size(), length) << std::hex << c.codePoint;
    EXPECT_EQ(hex(c.bytes), hex(std::string(out, length))) << std::hex << c.codePoint;
    for (size_t i = length; i < sizeof out; i++) EXPECT_EQ(0x55, out[i]) << "byte " << i << " written";
    length = 99;
    UTF32ToUTF8(c.codePoint, nullptr, &length);
    EXPECT_EQ(c.bytes.size(), length) << "length without output, " << std::hex << c.codePoint;
}
INSTANTIATE_TEST_SUITE_P(UTF32ToUTF8, UTF32ToUTF8Table,
                         ::testing::ValuesIn(std::vector<EncodeCase>{
                             {0x00, "\x00"_b},
                             {0x41, "A"},
                             {0x7F, "\x7F"},
                             {0x80, "\xC2\x80"},
                             {0xE9, "\xC3\xA9"},
                             {0x7FF, "\xDF\xBF"},
                             {0x800, "\xE0\xA0\x80"},
                             {0x0E01, "\xE0\xB8\x81"},
                             {0x20AC, "\xE2\x82\xAC"},
                             {0xFFFF, "\xEF\xBF\xBF"},
                             {0x10000, "\xF0\x90\x80\x80"},
                             {0x1F600, "\xF0\x9F\x98\x80"},
                             {0x10FFFF, "\xF4\x8F\xBF\xBF"},
                         }));

TEST(UTF32ToUTF8, NullPointersAreAllowed) {
    char out[4] = {1, 2, 3, 4};
    UTF32ToUTF8(0x20AC, out, nullptr);
    EXPECT_EQ("e2 82 ac 04", hex(std::string(out, 4)));
    UTF32ToUTF8(0x20AC, nullptr, nullptr);
}

// Every code point that glibc's UTF-8 knows (all but the surrogates) is
// encoded as glibc encodes it, and decodes back to itself.
TEST(UTF32ToUTF8, AgreesWithIconvAndRoundTrips) {
    std::string all;
    std::vector<dword> codePoints;
    for (dword u = 0x80; u <= 0x10FFFF; u++) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        char out[5] = {0};
        byte length = 0;
        UTF32ToUTF8(u, out, &length);
        byte back = 0;
        ASSERT_TRUE(isUTF8Char(out, nullptr)) << std::hex << u;
        ASSERT_EQ(u, UTF8ToUTF32(out, &back)) << std::hex << u;
        ASSERT_EQ(length, back) << std::hex << u;
        all.append(out, length);
        codePoints.push_back(u);
    }
    std::vector<std::vector<uint32_t>> decoded = iconvref::decodeEach("UTF-8", {all});
    ASSERT_EQ(1u, decoded.size());
    ASSERT_EQ(codePoints.size(), decoded[0].size());
    for (size_t i = 0; i < codePoints.size(); i++)
        ASSERT_EQ(codePoints[i], decoded[0][i]) << "at U+" << std::hex << codePoints[i];
}

// ---- strlenUC -----------------------------------------------------------

struct LengthCase {
    std::string bytes;
    dword characters;
};

void PrintTo(const LengthCase &c, std::ostream *os) { *os << hex(c.bytes); }

class StrlenUCTable : public ::testing::TestWithParam<LengthCase> {};

TEST_P(StrlenUCTable, CountsCharactersAfterTheSelector) {
    const LengthCase &c = GetParam();
    std::string buffer = c.bytes + '\0';
    EXPECT_EQ(c.characters, strlenUC(buffer.data())) << hex(c.bytes);
}
INSTANTIATE_TEST_SUITE_P(StrlenUC, StrlenUCTable,
                         ::testing::ValuesIn(std::vector<LengthCase>{
                             {"", 0},
                             {"abc", 3},
                             {"\x15" "Gr\xC3\xBC\xC3\x9F" "e", 5},
                             {"Gr\xFC\xDF" "e", 5},
                             {"\xE2\x82\xAC\xF0\x9F\x98\x80", 2},
                             {"\xE2\x82", 2},  // a cut sequence is two single bytes
                             {"\xC3", 1},
                             {"\x10\x00\x05" "abc"_b, 3},
                             {"\x1F\x01" "ab", 2},
                             {"\x1F", 0},
                             {"\x05", 0},
                             {"\x05" "\xC3\xA9", 1},
                         }));

TEST(StrlenUC, NullIsZero) { EXPECT_EQ(0u, strlenUC(nullptr)); }

// ---- GetStringEncoding ------------------------------------------------------

struct EncodingCase {
    std::string bytes;
    bool singleByte, multiByte;
};

void PrintTo(const EncodingCase &c, std::ostream *os) { *os << hex(c.bytes); }

class GetStringEncodingTable : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(GetStringEncodingTable, SetsTheFlagsOfTheText) {
    const EncodingCase &c = GetParam();
    std::string buffer = c.bytes + '\0';
    bool single = !c.singleByte, multi = !c.multiByte;
    GetStringEncoding(buffer.data(), &single, &multi);
    EXPECT_EQ(c.singleByte, single) << "single-byte flag of " << hex(c.bytes);
    EXPECT_EQ(c.multiByte, multi) << "multi-byte flag of " << hex(c.bytes);
    single = !c.singleByte;
    GetStringEncoding(buffer.data(), &single, nullptr);
    EXPECT_EQ(c.singleByte, single) << "single-byte flag alone of " << hex(c.bytes);
    multi = !c.multiByte;
    GetStringEncoding(buffer.data(), nullptr, &multi);
    EXPECT_EQ(c.multiByte, multi) << "multi-byte flag alone of " << hex(c.bytes);
}
INSTANTIATE_TEST_SUITE_P(GetStringEncoding, GetStringEncodingTable,
                         ::testing::ValuesIn(std::vector<EncodingCase>{
                             {"", false, false},
                             {"abc", false, false},
                             {"Gr\xC3\xBC\xC3\x9F" "e", false, true},
                             {"Gr\xFC\xDF" "e", true, false},
                             {"\xC3\xA9 \xA0", true, true},
                             {"\x80\x9F", false, false},  // C1 bytes set neither flag
                             {"\xA0", true, false},
                             {"\xC3(", true, false},  // lead byte without continuation
                             {"\x15" "\xC3\xA9", false, true},
                             {"\x1F\xA0" "abc", false, false},  // the selector is not examined
                             {"\x10\x00\x05" "\xE9"_b, true, false},
                             {"\x10\x00\x05" "\xC3\xA9"_b, false, true},
                         }));

TEST(GetStringEncoding, NullStringClearsBothFlags) {
    bool single = true, multi = true;
    GetStringEncoding(nullptr, &single, &multi);
    EXPECT_FALSE(single);
    EXPECT_FALSE(multi);
    GetStringEncoding(nullptr, nullptr, nullptr);
}

}  // namespace
