// The character tables against glibc's iconv, an independent copy of the
// published mappings: every ISO 8859 table byte for byte, the ISO 6937
// table, and the diacritical pairs.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "iconv_reference.h"
#include "support/velalib.h"

namespace {

struct Iso8859Case {
    int part;
    const word *table;
};

void PrintTo(const Iso8859Case &c, std::ostream *os) { *os << "ISO 8859-" << c.part; }

std::string partName(const ::testing::TestParamInfo<Iso8859Case> &info) {
    return "Part" + std::to_string(info.param.part);
}

class UTFLookupISO8859Table : public ::testing::TestWithParam<Iso8859Case> {};

// Each byte 0xA0..0xFF holds the code point that glibc decodes it to, 0
// where glibc finds no character; ISO 8859-7 without its 2003 additions.
TEST_P(UTFLookupISO8859Table, MatchesIconv) {
    const Iso8859Case &c = GetParam();
    std::vector<std::string> bytes;
    for (int b = 0xA0; b <= 0xFF; b++) bytes.push_back(std::string(1, (char)b));
    std::string charset = "ISO-8859-" + std::to_string(c.part);
    std::vector<std::vector<uint32_t>> glibc = iconvref::decodeEach(charset, bytes);
    ASSERT_EQ(96u, glibc.size());
    int assigned = 0;
    for (int b = 0xA0; b <= 0xFF; b++) {
        const std::vector<uint32_t> &r = glibc[b - 0xA0];
        ASSERT_LE(r.size(), 1u) << charset << " byte " << std::hex << b;
        uint32_t expected = r.empty() ? 0 : r[0];
        if (c.part == 7 && (b == 0xA4 || b == 0xA5 || b == 0xAA)) {
            EXPECT_NE(0u, expected) << "glibc's ISO-8859-7 is expected to have the 2003 additions";
            expected = 0;
        }
        if (expected) assigned++;
        EXPECT_EQ(expected, c.table[b - 0xA0]) << charset << " byte 0x" << std::hex << b;
    }
    EXPECT_GT(assigned, 48) << charset << ": glibc decoded too little to be a reference";
}
INSTANTIATE_TEST_SUITE_P(UTFLookupISO8859, UTFLookupISO8859Table,
                         ::testing::ValuesIn(std::vector<Iso8859Case>{
                             {1, UTFLookupISO8859_1},   {2, UTFLookupISO8859_2},   {3, UTFLookupISO8859_3},
                             {4, UTFLookupISO8859_4},   {5, UTFLookupISO8859_5},   {6, UTFLookupISO8859_6},
                             {7, UTFLookupISO8859_7},   {8, UTFLookupISO8859_8},   {9, UTFLookupISO8859_9},
                             {10, UTFLookupISO8859_10}, {11, UTFLookupISO8859_11}, {13, UTFLookupISO8859_13},
                             {14, UTFLookupISO8859_14}, {15, UTFLookupISO8859_15}, {16, UTFLookupISO8859_16}}),
                         partName);

// The ISO 6937 table is glibc's ISO_6937 except where DVB text differs:
// the euro sign at 0xA4, the marks as combining characters (glibc knows
// them only before a letter), U+2015 for the bar at 0xD0 and U+0110 for
// the capital D with stroke at 0xE2.
TEST(UTFLookupISO6937, MatchesIconvApartFromTheDvbPositions) {
    const std::map<int, uint32_t> dvb = {
        {0xA4, 0x20AC}, {0xC1, 0x0300}, {0xC2, 0x0301}, {0xC3, 0x0302}, {0xC4, 0x0303}, {0xC5, 0x0304},
        {0xC6, 0x0306}, {0xC7, 0x0307}, {0xC8, 0x0308}, {0xCA, 0x030A}, {0xCB, 0x0327}, {0xCD, 0x030B},
        {0xCE, 0x0328}, {0xCF, 0x030C}, {0xD0, 0x2015}, {0xE2, 0x0110}};
    std::vector<std::string> bytes;
    for (int b = 0xA0; b <= 0xFF; b++) bytes.push_back(std::string(1, (char)b));
    std::vector<std::vector<uint32_t>> glibc = iconvref::decodeEach("ISO_6937", bytes);
    ASSERT_EQ(96u, glibc.size());
    for (int b = 0xA0; b <= 0xFF; b++) {
        const std::vector<uint32_t> &r = glibc[b - 0xA0];
        auto d = dvb.find(b);
        uint32_t expected = d != dvb.end() ? d->second : r.size() == 1 ? r[0] : 0;
        EXPECT_EQ(expected, UTFLookupISO6937[b - 0xA0]) << "byte 0x" << std::hex << b;
    }
}

// The pairs are exactly the marks and letters that glibc composes into
// U+00C0..U+00FF, each with the UTF-8 form of that character.
TEST(ISO6937DiacriticalPairs, AreTheLatin1CompositionsOfIconv) {
    std::vector<std::string> inputs;
    for (int mark = 0xC0; mark <= 0xCF; mark++)
        for (int letter = 0x20; letter <= 0x7E; letter++) inputs.push_back({(char)mark, (char)letter});
    std::vector<std::vector<uint32_t>> glibc = iconvref::decodeEach("ISO_6937", inputs);
    ASSERT_EQ(inputs.size(), glibc.size());
    std::map<std::pair<int, int>, uint32_t> composed;
    for (size_t i = 0; i < inputs.size(); i++)
        if (glibc[i].size() == 1 && glibc[i][0] >= 0xC0 && glibc[i][0] <= 0xFF)
            composed[{(unsigned char)inputs[i][0], (unsigned char)inputs[i][1]}] = glibc[i][0];
    ASSERT_EQ((size_t)ISO6937_DIACRITICAL_PAIRS, composed.size());

    std::set<std::pair<int, int>> seen;
    for (const tDiacriticalPair &p : ISO6937DiacriticalPairs) {
        auto key = std::make_pair((int)p.Mark, (int)p.Letter);
        EXPECT_TRUE(seen.insert(key).second) << "listed twice: " << std::hex << key.first << " " << key.second;
        auto c = composed.find(key);
        if (c == composed.end()) {
            ADD_FAILURE() << "not a Latin-1 composition: " << std::hex << key.first << " " << key.second;
            continue;
        }
        uint32_t u = c->second;
        EXPECT_EQ(0xC0 | (u >> 6), p.UTF8[0]) << std::hex << key.first << " " << key.second;
        EXPECT_EQ(0x80 | (u & 0x3F), p.UTF8[1]) << std::hex << key.first << " " << key.second;
    }
}

}  // namespace
