// 64-bit division inside a TAP file: on the receiver build the compiler
// calls helpers for it, which the TAP carries itself (built for the MIPS32
// base instruction set).  Divide.tap's results against this program's own
// division, which goes through the toolchain's libgcc.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdint.h>

#include <string>

namespace {

struct DivisionCase {
    const char *name;
    uint64_t n, d;
};

const uint64_t kTop = ~0ull;                // 2^64 - 1
const uint64_t kSignBit = 1ull << 63;       // lowest signed value
const uint64_t kMinusOne = ~0ull;           // -1 as signed

const DivisionCase kCases[] = {
    {"ZeroByOne", 0, 1},
    {"SmallBySmall", 1000, 7},
    {"Largest32BitByItself", 0xFFFFFFFFull, 0xFFFFFFFFull},
    {"Just64BitBy32Bit", 0x100000000ull, 0xFFFFFFFFull},
    {"Just64BitByTwo", 0x100000001ull, 2},
    {"LargestByOne", kTop, 1},
    {"LargestByThree", kTop, 3},
    {"LargestByItself", kTop, kTop},
    {"LargestByBelowItself", kTop, kTop - 1},
    {"BelowLargestByLargest", kTop - 1, kTop},
    {"LargestBy2Pow32", kTop, 0x100000000ull},
    {"SignBitBySignBit", kSignBit, kSignBit},
    {"DivisorAboveDividend32", 5, 0x100000000ull},
    {"DivisorAboveDividend64", 0x123456789ull, 0x987654321ull},
    {"BarWidthOfLargeArchive", 3000000000ull * 360, 4000000000ull},
    {"MixedBits", 0xDEADBEEFCAFEBABEull, 0x12345678ull},
    {"MixedBits64BitDivisor", 0xDEADBEEFCAFEBABEull, 0x1234567890Aull},
    {"NegativeByPositive", (uint64_t)-7ll, 2},
    {"PositiveByNegative", 7, (uint64_t)-2ll},
    {"NegativeByNegative", (uint64_t)-7ll, (uint64_t)-2ll},
    {"NegativeByMinusOne", (uint64_t)-123456789012ll, kMinusOne},
    {"LowestSignedByOne", kSignBit, 1},
    {"LowestSignedByTwo", kSignBit, 2},
    {"LowestSignedByLargestSigned", kSignBit, kSignBit - 1},
    {"NegativeLargeBySmall", (uint64_t)-0x7FFFFFFFFFFFll, 10},
};

void PrintTo(const DivisionCase &c, std::ostream *os) { *os << c.name; }

typedef void (*Divide64)(uint64_t, uint64_t, uint64_t[4]);

class TapDivision : public ::testing::TestWithParam<DivisionCase> {
protected:
    void SetUp() override {
        tap = dlopen(DIVIDE_TAP, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, tap) << dlerror();
        divide = (Divide64)dlsym(tap, "divide64");
        ASSERT_NE(nullptr, divide) << dlerror();
    }
    void TearDown() override {
        if (tap) dlclose(tap);
    }
    // Empty when Divide.tap agrees with this program on n and d.
    std::string disagreement(uint64_t un, uint64_t ud) {
        uint64_t got[4] = {0, 0, 0, 0};
        divide(un, ud, got);
        int64_t n = (int64_t)un, d = (int64_t)ud;
        std::string what;
        if (got[0] != un / ud) what += " unsigned quotient " + std::to_string(got[0]);
        if (got[1] != un % ud) what += " unsigned remainder " + std::to_string(got[1]);
        if ((int64_t)got[2] != n / d) what += " signed quotient " + std::to_string((int64_t)got[2]);
        if ((int64_t)got[3] != n % d) what += " signed remainder " + std::to_string((int64_t)got[3]);
        return what.empty() ? what : std::to_string(un) + " / " + std::to_string(ud) + ":" + what;
    }
    void *tap = nullptr;
    Divide64 divide = nullptr;
};

TEST_P(TapDivision, MatchesTheCompilersOwnDivision) {
    const DivisionCase &c = GetParam();
    EXPECT_EQ("", disagreement(c.n, c.d)) << c.name;
}

// Dividends and divisors of every length from 1 to 64 bits, from a fixed
// pseudo-random sequence.
TEST_F(TapDivision, MatchesTheCompilersOwnDivisionOverManyPairs) {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state]() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return state ^ (state >> 29);
    };
    int failures = 0;
    for (int i = 0; i < 20000 && failures < 5; i++) {
        uint64_t n = next() >> (next() % 64), d = next() >> (next() % 64);
        if (d == 0 || (d == kMinusOne && n == kSignBit)) continue;
        std::string what = disagreement(n, d);
        if (!what.empty()) {
            ADD_FAILURE() << what;
            failures++;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(DivideTap, TapDivision, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<DivisionCase> &info) { return info.param.name; });

} // namespace
