// The ELF section reader against real TAP files of this build, with GNU
// readelf's section table as the reference, and against damaged copies:
// every step that must fail fails, nothing is allocated beyond the file's
// size, and ELFCleanup always leaves the reader closed with every firmware
// heap block given back.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "elf_reference.h"
#include "emutest.h"
#include "support/velalib.h"

namespace {

const std::string kTapDir = TEST_TAP_DIR;
const char *const kSteps[] = {"none", "ELFOpenFile", "ELFReadELFHeader", "ELFReadSectionHeaders",
                              "ELFReadShstrtabSection"};

// The reader's steps in the order its callers use them; the number of the
// first one that failed (1 to 4), 0 when all four succeeded.
int openReader(const char *path) {
    if (!ELFOpenFile(path)) return 1;
    if (!ELFReadELFHeader()) return 2;
    if (!ELFReadSectionHeaders()) return 3;
    if (!ELFReadShstrtabSection()) return 4;
    return 0;
}

bool readerClosed() {
    return fTAP == 0 && !ELFHeader && !SectionHeaders && !shstrtab && !symtab && !strtab;
}

// The file's layout from readelf, taken before the receiver starts.
class ReaderTest : public EmuTest {
protected:
    virtual std::string referenceFile() const { return kTapDir + "/Sketch.tap"; }
    void configure(EmuOptions &o) override { o.traceAll = 1; }  // TAP_MemAlloc sizes in the trace
    void SetUp() override {
        file.bytes = readFile(referenceFile());
        file.layout = elfref::readelf(referenceFile());
        ASSERT_TRUE(file.layout.ok) << "readelf cannot read " << referenceFile();
        EmuTest::SetUp();
    }
    // The largest TAP_MemAlloc in the trace from line `from` on.
    unsigned long long largestAllocation(size_t from) const {
        unsigned long long largest = 0;
        for (const std::string &line : traceFrom(from))
            if (line.rfind("TAP_MemAlloc ", 0) == 0) largest = std::max(largest, std::stoull(line.substr(13)));
        return largest;
    }
    elfref::TapFile file;
};

// ---- Real files: readelf's table -----------------------------------------------

struct RealFile {
    const char *label;
    std::string hostPath;
    std::string firmwarePath;  // where it lies on the disk
    std::string givenPath;     // as handed to ELFOpenFile
};

const RealFile kRealFiles[] = {
    {"InstallerByTapPath", INSTALLER_TAP, "/ProgramFiles/Zephyrdesk-Install.tap", "/ProgramFiles/Zephyrdesk-Install.tap"},
    {"SketchByLinuxPath", kTapDir + "/Sketch.tap", "/ProgramFiles/Sketch.tap", "/mnt/hd/ProgramFiles/Sketch.tap"},
    {"ProbeByBareName", kTapDir + "/ProbeA.tap", "/ProgramFiles/ProbeA.tap", "ProbeA.tap"},
};

std::ostream &operator<<(std::ostream &o, const RealFile &f) { return o << f.label; }

class RealTapFile : public ReaderTest, public ::testing::WithParamInterface<RealFile> {
protected:
    std::string referenceFile() const override { return GetParam().hostPath; }
};

TEST_P(RealTapFile, SectionTableIsReadelfs) {
    const RealFile &f = GetParam();
    writeFile(disk(f.firmwarePath), file.bytes);
    const elfref::Layout &l = file.layout;
    unsigned blocks = emuHeapBlocksInUse();
    EXPECT_EQ(0, ELFOpenFile(nullptr));
    EXPECT_EQ(0, ELFOpenFile(""));
    EXPECT_EQ(0, fTAP) << "no path changes nothing";

    ASSERT_EQ(0, openReader(f.givenPath.c_str())) << f.givenPath;
    EXPECT_EQ(blocks + 3, emuHeapBlocksInUse()) << "header, section table and names are copies";
    EXPECT_EQ(l.shoff, (unsigned long long)ELFHeader->e_shoff);
    EXPECT_EQ(l.shnum, ELFHeader->e_shnum);
    EXPECT_EQ(l.shstrndx, ELFHeader->e_shstrndx);
    for (const elfref::Section &s : l.sections) {
        dword offset = 0xDEAD, size = 0xDEAD;
        ASSERT_EQ(1, ELFGetSectionOffset((int)s.index, &offset, &size)) << s.index;
        EXPECT_EQ(s.offset, offset) << "offset of [" << s.index << "] " << s.name;
        EXPECT_EQ(s.size, size) << "size of [" << s.index << "] " << s.name;
        if (!s.name.empty()) {
            EXPECT_EQ((int)l.find(s.name)->index, ELFGetSectionIndex(s.name.c_str())) << s.name;
        }
    }
    dword offset = 0xDEAD, size = 0xBEEF;
    EXPECT_EQ(0, ELFGetSectionOffset((int)l.shnum, &offset, &size)) << "index e_shnum";
    EXPECT_EQ(0xDEADu, offset);
    EXPECT_EQ(0xBEEFu, size);
    EXPECT_EQ(0, ELFGetSectionOffset(-1, &offset, &size));
    EXPECT_EQ(1, ELFGetSectionOffset(1, nullptr, nullptr));
    for (const char *other : {"._tap", "._tap_idx", "._TAP_ID", ".Payload", ".payload", "._tap_id "}) {
        const elfref::Section *listed = l.find(other); // the installer carries a ".Payload"
        EXPECT_EQ(listed ? (int)listed->index : 0, ELFGetSectionIndex(other)) << other;
    }
    EXPECT_EQ(0, ELFGetSectionIndex(nullptr));

    // Section contents come from the file's bytes at readelf's offsets.
    const elfref::Section &id = file.section("._tap_id");
    const elfref::Section &name = file.section("._tap_program_name");
    dword value = 0;
    EXPECT_EQ(1, ELFReadDWORD((int)id.index, &value));
    EXPECT_EQ(file.get((size_t)id.offset, 4), value);
    EXPECT_EQ(1, ELFReadDWORD((int)id.index, nullptr)) << "4 bytes, nowhere to put them";
    EXPECT_EQ(0, ELFReadDWORD((int)name.index, &value)) << "64 bytes are no DWORD";
    EXPECT_EQ(0, ELFReadDWORD((int)name.index, nullptr));
    std::string contents(name.size + 8, '#');
    EXPECT_EQ(1, ELFReadData((int)name.index, &contents[0], (dword)contents.size()));
    EXPECT_EQ(file.bytes.substr((size_t)name.offset, (size_t)name.size) + "########", contents);
    std::string part(16, '#');
    EXPECT_EQ(1, ELFReadData((int)name.index, &part[0], 10)) << "a smaller destination takes the first bytes";
    EXPECT_EQ(file.bytes.substr((size_t)name.offset, 10) + "######", part);
    EXPECT_EQ(1, ELFReadData((int)name.index, nullptr, 0));

    int fd = fTAP;
    symtab = TAP_MemAlloc(16);  // no step fills these two, but ELFCleanup releases them
    strtab = (char *)TAP_MemAlloc(16);
    ELFCleanup();
    EXPECT_TRUE(readerClosed());
    EXPECT_EQ(blocks, emuHeapBlocksInUse());
    EXPECT_EQ(-1, fcntl(fd, F_GETFD)) << "the descriptor is closed";
}

INSTANTIATE_TEST_SUITE_P(ThisBuild, RealTapFile, ::testing::ValuesIn(kRealFiles),
                         [](const ::testing::TestParamInfo<RealFile> &i) { return i.param.label; });

// ---- Damaged copies of a real file ----------------------------------------------

// What the lookups find once all four steps succeeded.
enum Lookups { FindsAll, FindsNone, LosesLastName };

struct Damage {
    const char *label;
    std::function<void(elfref::TapFile &)> patch;  // null: no file at all
    int failingStep;                               // 0: none
    Lookups lookups = FindsAll;
    int tablesThatFitTheHeap = -1;                 // -1: no heap limit
};

unsigned long long ones(const elfref::TapFile &f) { return f.layout.wide ? ~0ull : 0xFFFFFFFFull; }
size_t namesIndex(const elfref::TapFile &f) { return (size_t)f.layout.shstrndx; }

const Damage kDamages[] = {
    {"Untouched", [](elfref::TapFile &) {}, 0},
    {"Missing", nullptr, 1},
    {"Empty", [](elfref::TapFile &f) { f.bytes.clear(); }, 2},
    {"ShorterThanTheHeader", [](elfref::TapFile &f) { f.bytes.resize((size_t)f.layout.headerSize - 1); }, 2},
    {"NotElfAtAll", [](elfref::TapFile &f) { f.bytes = std::string(4096, 'x'); }, 3},
    {"NoSections", [](elfref::TapFile &f) { f.put(f.shnumField(), 0, 2); }, 3},
    {"SectionCountBeyondTheFile", [](elfref::TapFile &f) { f.put(f.shnumField(), 0xFFFF, 2); }, 3},
    {"SectionTableOneByteBeyondTheEnd", [](elfref::TapFile &f) { f.put(f.shoffField(), f.layout.shoff + 1, f.word()); }, 3},
    {"SectionTableOffsetHuge", [](elfref::TapFile &f) { f.put(f.shoffField(), ones(f) - 15, f.word()); }, 3},
    {"NameTableIndexIsTheCount", [](elfref::TapFile &f) { f.put(f.shstrndxField(), f.layout.shnum, 2); }, 4},
    {"NameTableIndexHuge", [](elfref::TapFile &f) { f.put(f.shstrndxField(), 0xFFFF, 2); }, 4},
    {"NameTableOfAnotherType", [](elfref::TapFile &f) { f.put(f.typeField(namesIndex(f)), 1, 4); }, 4},
    {"NameTableOneByteBeyondTheEnd",
     [](elfref::TapFile &f) {
         f.put(f.sizeField(namesIndex(f)), f.bytes.size() - f.layout.names().offset + 1, f.word());
     },
     4},
    {"NameTableSizeHuge", [](elfref::TapFile &f) { f.put(f.sizeField(namesIndex(f)), 0x7FFFFFF0, f.word()); }, 4},
    {"NameTableOffsetHuge", [](elfref::TapFile &f) { f.put(f.offsetField(namesIndex(f)), ones(f) - 3, f.word()); }, 4},
    {"NameTableEmpty", [](elfref::TapFile &f) { f.put(f.sizeField(namesIndex(f)), 0, f.word()); }, 0, FindsNone},
    {"NameOffsetsFarPastTheTable",
     [](elfref::TapFile &f) {
         for (unsigned i = 0; i < f.layout.shnum; i++) f.put(f.nameField(i), 0xFFFFFFF0, 4);
     },
     0, FindsNone},
    {"NameOffsetsAtTheTableEnd",
     [](elfref::TapFile &f) {
         for (unsigned i = 0; i < f.layout.shnum; i++) f.put(f.nameField(i), f.layout.names().size, 4);
     },
     0, FindsNone},
    {"NameTableWithoutFinalNul",
     [](elfref::TapFile &f) { f.bytes.at((size_t)(f.layout.names().offset + f.layout.names().size - 1)) = 'X'; },
     0, LosesLastName},
    {"HeapTooSmallForTheHeader", [](elfref::TapFile &) {}, 2, FindsAll, 0},
    {"HeapTooSmallForTheSectionTable", [](elfref::TapFile &) {}, 3, FindsAll, 1},
    {"HeapTooSmallForTheNames", [](elfref::TapFile &) {}, 4, FindsAll, 2},
};

std::ostream &operator<<(std::ostream &o, const Damage &d) { return o << d.label; }

class DamagedFile : public ReaderTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedFile, FailsInItsStepAndCleansUp) {
    const Damage &d = GetParam();
    const elfref::Layout &l = file.layout;
    elfref::TapFile damaged = file;
    if (d.patch) {
        d.patch(damaged);
        writeFile(disk("/ProgramFiles/Damaged.tap"), damaged.bytes);
    }
    if (d.tablesThatFitTheHeap >= 0) {
        size_t sizes[] = {1, (size_t)l.headerSize, (size_t)(l.headerSize + l.shnum * l.shentsize)};
        emuSetHeapLimit(sizes[d.tablesThatFitTheHeap]);
    }
    unsigned blocks = emuHeapBlocksInUse();
    size_t from = trace().size();

    int failed = openReader("/ProgramFiles/Damaged.tap");
    EXPECT_STREQ(kSteps[d.failingStep], kSteps[failed]) << d.label << ": the step that fails";
    EXPECT_LE(largestAllocation(from), damaged.bytes.size())
        << d.label << ": nothing is allocated beyond the file's size";
    if (failed == 1) {
        EXPECT_EQ(-1, fTAP) << "the failed descriptor stays until ELFCleanup";
    }
    if (failed == 0) {
        for (const elfref::Section &s : l.sections) {
            if (s.name.empty()) continue;
            int expected = (int)l.find(s.name)->index;
            size_t end = (size_t)(file.get(file.nameField(s.index), 4) + s.name.size() + 1);
            if (d.lookups == FindsNone || (d.lookups == LosesLastName && end == l.names().size)) expected = 0;
            EXPECT_EQ(expected, ELFGetSectionIndex(s.name.c_str())) << d.label << ": " << s.name;
        }
    }
    ELFCleanup();
    EXPECT_TRUE(readerClosed()) << d.label;
    EXPECT_EQ(blocks, emuHeapBlocksInUse()) << d.label << ": every heap block is given back";
    ELFCleanup();
    EXPECT_TRUE(readerClosed()) << d.label << ": a second ELFCleanup does nothing";
}

INSTANTIATE_TEST_SUITE_P(Sketch, DamagedFile, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage> &i) { return i.param.label; });

// ---- Cut files -------------------------------------------------------------------

using CutFile = ReaderTest;

// Cut at every length inside the header, the section table and the name
// table: the first step whose bytes are missing fails.
TEST_F(CutFile, FailsAtTheFirstStepWhoseBytesAreMissing) {
    const elfref::Layout &l = file.layout;
    unsigned long long headerEnd = l.headerSize, tableEnd = l.shoff + l.shnum * l.shentsize,
                       namesEnd = l.names().offset + l.names().size;
    ASSERT_EQ(file.bytes.size(), std::max(tableEnd, namesEnd)) << "the tables end the file";
    std::set<unsigned long long> cuts;
    for (unsigned long long n = 0; n <= headerEnd; n++) cuts.insert(n);
    for (unsigned long long n = l.shoff; n <= tableEnd; n++) cuts.insert(n);
    for (unsigned long long n = l.names().offset; n <= namesEnd; n++) cuts.insert(n);

    writeFile(disk("/ProgramFiles/Cut.tap"), file.bytes);
    int fd = open(disk("/ProgramFiles/Cut.tap").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    unsigned blocks = emuHeapBlocksInUse();
    std::vector<std::string> wrong;
    for (auto n = cuts.rbegin(); n != cuts.rend(); ++n) {
        ASSERT_EQ(0, ftruncate(fd, (off_t)*n));
        int expected = *n < headerEnd ? 2 : *n < tableEnd ? 3 : *n < namesEnd ? 4 : 0;
        int failed = openReader("/ProgramFiles/Cut.tap");
        ELFCleanup();
        if (failed != expected || !readerClosed() || emuHeapBlocksInUse() != blocks)
            wrong.push_back("cut at " + std::to_string(*n) + ": " + kSteps[failed] + " failed, expected " +
                            kSteps[expected]);
    }
    close(fd);
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " of " << cuts.size()
                               << " cuts, first: " << (wrong.empty() ? "" : wrong.front());
}

}  // namespace
