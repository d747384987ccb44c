// The two product TAPs that the payload carries, as the firmware sees
// them: their identity sections (read with readelf) and their life in the
// stand-in receiver.
#include <algorithm>
#include <string>

#include "emutest.h"
#include "tools.h"

using namespace payloadtest;

namespace {

struct Product {
    const char *name; // file name without ".tap"
    std::string id;   // "._tap_id" bytes
    const char *programName, *description, *startLine;
};

const Product kProducts[] = {
    {"Zephyrdesk", std::string("\x0F\x56\x52\x51", 4), "Zephyrdesk 2.20", "Web interface for the receiver.",
     "Zephyrdesk 2.20 started\n"},
    {"Zephyrdesk-Config", std::string("\x10\x56\x52\x51", 4), "Zephyrdesk-Config 2.20", "Settings of Zephyrdesk.",
     "Zephyrdesk-Config 2.20 started\n"},
};

std::string productPath(const Product &p) { return std::string(PRODUCT_TAP_DIR "/") + p.name + ".tap"; }
std::string padded(const std::string &text, size_t size) { return text + std::string(size - text.size(), '\0'); }
std::string caseName(const ::testing::TestParamInfo<Product> &info) {
    std::string n = info.param.name;
    return n == "Zephyrdesk" ? "Main" : "Config";
}

void PrintTo(const Product &p, std::ostream *os) { *os << p.name; }

class ProductIdentity : public ::testing::TestWithParam<Product> {};

TEST_P(ProductIdentity, EverySectionHoldsItsValue) {
    const Product &p = GetParam();
    std::string dir = scratchFolder();
    ElfView v = readelf(productPath(p), dir);
    ASSERT_TRUE(v.ok) << v.warnings;
    std::string bytes = readFile(productPath(p));
    const std::pair<const char *, std::string> expected[] = {
        {"._tap_id", p.id},
        {"._tap_program_name", padded(p.programName, 64)},
        {"._tap_author_name", padded("Zephyrdesk team", 64)},
        {"._tap_description", padded(p.description, 128)},
        {"._tap_program_version", padded("2.20", 64)},
        {"._tap_etcinfo", padded("Feb 11 2018", 64)},
        {"._tap_header", padded(std::string("TFAPMIPS\x10\0\0\0", 12), 32)},
    };
    for (const auto &e : expected) {
        const ElfSection *s = v.find(e.first);
        ASSERT_NE(nullptr, s) << e.first;
        EXPECT_EQ("PROGBITS", s->type) << e.first;
        EXPECT_EQ("A", s->flags) << e.first << ": allocated, read-only";
        EXPECT_EQ(4u, s->align) << e.first;
        EXPECT_EQ(e.second, sectionBytes(bytes, *s)) << e.first;
    }
    Ran symbols = run("readelf --dyn-syms -W " + quote(productPath(p)), dir);
    for (const char *name : {"__TAP_Init_", "TAP_Main", "TAP_EventHandler", "__tap_ud__", "_init", "_finit"})
        EXPECT_NE(std::string::npos, symbols.out.find(std::string(" ") + name + "\n")) << name << " is exported";
}

INSTANTIATE_TEST_SUITE_P(Product, ProductIdentity, ::testing::ValuesIn(kProducts), caseName);

class ProductInStandIn : public EmuTest, public ::testing::WithParamInterface<Product> {};

TEST_P(ProductInStandIn, AnnouncesItselfHandsEventsBackAndEndsOnStop) {
    const Product &p = GetParam();
    size_t before = console().size();
    char err[256] = "";
    int tap = emuLoadTap(productPath(p).c_str(), err, sizeof err);
    ASSERT_GE(tap, 0) << err;
    EXPECT_TRUE(emuSlotRunning(tap)) << "TAP_Main keeps it loaded";
    EXPECT_EQ(std::string(p.startLine) + '\0', console().substr(before)) << "one line on the console";

    EXPECT_EQ((dword)KEY_OK_REMOTE, emuDeliver(tap, EVT_KEY, KEY_OK_REMOTE, 0)) << "a key goes back";
    EXPECT_EQ(0x1234u, emuDeliver(tap, EVT_IDLE, 0x1234, 7)) << "any other event goes back";
    EXPECT_EQ(0x5678u, emuDeliver(tap, 0x0800, 0x5678, 0));
    EXPECT_TRUE(emuSlotRunning(tap));

    size_t from = trace().size();
    EXPECT_EQ(0u, emuDeliver(tap, EVT_STOP, 1, 0)) << "the stop event is consumed";
    EXPECT_FALSE(emuSlotRunning(tap)) << "and ends the TAP";
    std::vector<std::string> after = traceFrom(from);
    EXPECT_TRUE(std::find(after.begin(), after.end(), "TAP_Exit -> 0") != after.end()) << "through TAP_Exit";
}

INSTANTIATE_TEST_SUITE_P(Product, ProductInStandIn, ::testing::ValuesIn(kProducts), caseName);

} // namespace
