// The installer's TAP file as the firmware's loader sees it: the identity
// sections, the exported entry points, and a start through the loader.

#include <cstring>

#include "emutest.h"
#include "installer_screens.h"

namespace {

// The parts of an ELF file (32- or 64-bit, little-endian) these tests read.
struct Section {
    std::string name;
    unsigned type = 0;
    unsigned long long flags = 0, addr = 0, offset = 0, size = 0, align = 0;
    unsigned link = 0;
    unsigned long long entsize = 0;
};
struct Symbol {
    std::string name;
    unsigned long long value = 0, size = 0;
    unsigned shndx = 0, type = 0, bind = 0;
};
struct Elf {
    std::string bytes;
    std::vector<Section> sections;
    std::vector<Symbol> dynsym;
    unsigned long long dtInit = 0;
    bool ok = false;
};

unsigned long long le(const std::string &b, size_t at, size_t n) {
    unsigned long long v = 0;
    for (size_t i = 0; i < n && at + i < b.size(); i++) v |= (unsigned long long)(unsigned char)b[at + i] << (8 * i);
    return v;
}

Elf readElf(const std::string &path) {
    Elf e;
    e.bytes = readFile(path);
    const std::string &b = e.bytes;
    if (b.size() < 52 || b.compare(0, 4, "\x7f" "ELF") != 0) return e;
    bool w = b[4] == 2; // 64-bit
    unsigned long long shoff = le(b, w ? 0x28 : 0x20, w ? 8 : 4);
    unsigned shentsize = le(b, w ? 0x3A : 0x2E, 2), shnum = le(b, w ? 0x3C : 0x30, 2),
             shstrndx = le(b, w ? 0x3E : 0x32, 2);
    for (unsigned i = 0; i < shnum; i++) {
        size_t at = shoff + (size_t)i * shentsize;
        Section s;
        s.name = std::to_string(le(b, at, 4));
        s.type = le(b, at + 4, 4);
        if (w) {
            s.flags = le(b, at + 8, 8), s.addr = le(b, at + 16, 8), s.offset = le(b, at + 24, 8);
            s.size = le(b, at + 32, 8), s.link = le(b, at + 40, 4), s.align = le(b, at + 48, 8);
            s.entsize = le(b, at + 56, 8);
        } else {
            s.flags = le(b, at + 8, 4), s.addr = le(b, at + 12, 4), s.offset = le(b, at + 16, 4);
            s.size = le(b, at + 20, 4), s.link = le(b, at + 24, 4), s.align = le(b, at + 32, 4);
            s.entsize = le(b, at + 36, 4);
        }
        e.sections.push_back(s);
    }
    if (shstrndx >= e.sections.size()) return e;
    const Section &names = e.sections[shstrndx];
    for (Section &s : e.sections) s.name = std::string(b.c_str() + names.offset + std::stoul(s.name));
    for (const Section &s : e.sections) {
        if (s.type == 11 /* SHT_DYNSYM */ && s.entsize) {
            const Section &str = e.sections.at(s.link);
            for (unsigned long long at = s.offset; at + s.entsize <= s.offset + s.size; at += s.entsize) {
                Symbol y;
                y.name = std::string(b.c_str() + str.offset + le(b, at, 4));
                unsigned char info = w ? b[at + 4] : b[at + 12];
                y.type = info & 0xF, y.bind = info >> 4;
                y.shndx = w ? le(b, at + 6, 2) : le(b, at + 14, 2);
                y.value = w ? le(b, at + 8, 8) : le(b, at + 4, 4);
                y.size = w ? le(b, at + 16, 8) : le(b, at + 8, 4);
                e.dynsym.push_back(y);
            }
        }
        if (s.type == 6 /* SHT_DYNAMIC */) {
            size_t ent = w ? 16 : 8;
            for (unsigned long long at = s.offset; at + ent <= s.offset + s.size; at += ent)
                if (le(b, at, w ? 8 : 4) == 12 /* DT_INIT */) e.dtInit = le(b, at + ent / 2, w ? 8 : 4);
        }
    }
    e.ok = true;
    return e;
}

const Section *findSection(const Elf &e, const std::string &name) {
    for (const Section &s : e.sections)
        if (s.name == name) return &s;
    return nullptr;
}

const Symbol *findSymbol(const Elf &e, const std::string &name) {
    for (const Symbol &s : e.dynsym)
        if (s.name == name && s.shndx != 0) return &s;
    return nullptr;
}

std::string padded(const std::string &text, size_t size) { return text + std::string(size - text.size(), '\0'); }

struct IdentityCase {
    const char *name;
    const char *section;
    const char *object;
    std::string contents;
};

const IdentityCase kIdentity[] = {
    {"Id", "._tap_id", "__tap_ud__", std::string("\x19\x56\x52\x51", 4)},
    {"ProgramName", "._tap_program_name", "__tap_program_name__", padded("Zephyrdesk-Install 2.20", 64)},
    {"Author", "._tap_author_name", "__tap_author_name__", padded("Zephyrdesk team", 64)},
    {"Description", "._tap_description", "__tap_description__", padded("Install Zephyrdesk.", 128)},
    {"Version", "._tap_program_version", "__tap_program_version__", padded("2.20", 64)},
    {"BuildDate", "._tap_etcinfo", "__tap_etc_str__", padded("Feb 11 2018", 64)},
    {"Header", "._tap_header", "__tap_Header__", padded(std::string("TFAPMIPS\x10\0\0\0", 12), 32)},
};

class IdentitySection : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(IdentitySection, HoldsItsExportedObject) {
    const IdentityCase &c = GetParam();
    Elf e = readElf(INSTALLER_TAP);
    ASSERT_TRUE(e.ok) << INSTALLER_TAP;
    const Section *s = findSection(e, c.section);
    ASSERT_NE(nullptr, s) << c.section;
    EXPECT_EQ(1u, s->type) << c.section << " is PROGBITS";
    EXPECT_TRUE(s->flags & 0x2) << c.section << " is allocated";
    EXPECT_FALSE(s->flags & 0x1) << c.section << " is read-only";
    EXPECT_FALSE(s->flags & 0x4) << c.section << " holds no code";
    EXPECT_EQ(4u, s->align) << c.section;
    ASSERT_EQ(c.contents.size(), s->size) << c.section;
    EXPECT_EQ(c.contents, e.bytes.substr(s->offset, s->size)) << c.section;
    const Symbol *y = findSymbol(e, c.object);
    ASSERT_NE(nullptr, y) << c.object << " is exported";
    EXPECT_EQ(1u, y->type) << c.object << " is an object";
    EXPECT_EQ(s->addr, y->value) << c.object << " starts its section";
    EXPECT_EQ(s->size, y->size) << c.object << " fills its section";
    EXPECT_EQ(c.section, e.sections.at(y->shndx).name) << c.object;
}

INSTANTIATE_TEST_SUITE_P(InstallerTap, IdentitySection, ::testing::ValuesIn(kIdentity),
                         [](const ::testing::TestParamInfo<IdentityCase> &info) { return info.param.name; });

class ExportedFunction : public ::testing::TestWithParam<const char *> {};

TEST_P(ExportedFunction, IsDefinedInTapFile) {
    Elf e = readElf(INSTALLER_TAP);
    ASSERT_TRUE(e.ok);
    const Symbol *y = findSymbol(e, GetParam());
    ASSERT_NE(nullptr, y) << GetParam();
    EXPECT_EQ(2u, y->type) << GetParam() << " is a function";
    EXPECT_NE(0u, y->bind) << GetParam() << " is global";
    if (std::string(GetParam()) == "_init") {
        EXPECT_EQ(y->value, e.dtInit) << "_init is the initialisation entry";
    }
}

INSTANTIATE_TEST_SUITE_P(InstallerTap, ExportedFunction,
                         ::testing::Values("__TAP_Init_", "TAP_Main", "TAP_EventHandler", "abort", "__builtin_new",
                                           "_init", "_finit"));

// The TAP loaded and started by the stand-in's loader, then driven by keys.
using LoadedTap = EmuTest;

TEST_F(LoadedTap, StartsThroughLoaderAndEndsOnExit) {
    char err[256] = "";
    int tap = emuLoadTap(INSTALLER_TAP, err, sizeof err);
    ASSERT_GE(tap, 0) << err;
    EXPECT_TRUE(emuSlotRunning(tap)) << "TAP_Main keeps the TAP loaded";
    size_t from = trace().size();
    EXPECT_EQ(0u, emuDeliver(tap, EVT_KEY, KEY_OK_REMOTE, 0));
    std::vector<TracedCall> calls = tracedCalls(traceFrom(from));
    std::vector<TracedCall> creates = callsNamed(calls, "TAP_Osd_Create");
    ASSERT_EQ(1u, creates.size());
    int region = atoi(creates[0].result.c_str());
    std::vector<std::string> expected = {"TAP_ExitNormal"};
    for (const std::string &c : languagePage(region, 0, true)) expected.push_back(c);
    for (const std::string &c : targetPage(region, 0, 2)) expected.push_back(c);
    EXPECT_EQ(expected, osdCalls(calls));
    EXPECT_EQ(0x2000000u, emuDeliver(tap, EVT_KEY, 0x2000000, 0));
    EXPECT_EQ(0u, emuDeliver(tap, EVT_KEY, KEY_OK_REMOTE, 0));
    EXPECT_FALSE(emuSlotRunning(tap));
    EXPECT_FALSE(fileExists(disk("/ProgramFiles/Settings")));
}

// The glue that the TAP exports beside its entry points, called in the
// loaded TAP file.
class EntryGlue : public EmuTest {
protected:
    EmuEventHandler handler() override { return callAbort; }
    void *tapSymbol(const char *name) {
        char err[256] = "";
        int tap = emuLoadTap(INSTALLER_TAP, err, sizeof err);
        return tap < 0 ? nullptr : emuTapSymbol(tap, name);
    }
    static void (*tapAbort)(void);
    static dword callAbort(word, dword, dword) {
        tapAbort();
        return 1;
    }
};
void (*EntryGlue::tapAbort)(void) = nullptr;

TEST_F(EntryGlue, BuiltinNewReportsSizeAndAllocates) {
    auto builtinNew = (void *(*)(dword))tapSymbol("__builtin_new");
    ASSERT_NE(nullptr, builtinNew);
    size_t from = trace().size();
    void *block = builtinNew(100);
    EXPECT_NE(nullptr, block);
    std::vector<TracedCall> prints = callsNamed(tracedCalls(traceFrom(from)), "TAP_Print");
    ASSERT_EQ(1u, prints.size());
    EXPECT_EQ("\"__builtin_new. size=100\n\"", prints[0].args[0]);
    TAP_MemFree(block);
}

TEST_F(EntryGlue, AbortSleepsForEverInsteadOfEndingProcess) {
    tapAbort = (void (*)(void))tapSymbol("abort");
    ASSERT_NE(nullptr, tapAbort);
    size_t from = trace().size();
    emuDeliver(slot, EVT_IDLE, 0, 0); // the stand-in ends a TAP that only sleeps
    std::vector<TracedCall> sleeps = callsNamed(tracedCalls(traceFrom(from)), "TAP_Sleep");
    ASSERT_GE(sleeps.size(), 100u);
    for (const TracedCall &c : sleeps) ASSERT_EQ("TAP_Sleep 1000", c.text());
    EXPECT_FALSE(emuSlotRunning(slot));
}

} // namespace
