// tappack and the installer files it makes, checked against readelf,
// GNU tar and gzip: where the payload lies, what the archive holds, what
// `tappack check` and `tappack list` say.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>

#include "emutest.h"
#include "tools.h"

using namespace payloadtest;

namespace {

// GNU tar as the build runs it (the test archives are made the same way).
const std::string kTar = "tar --format=gnu --sort=name --owner=0 --group=0 --numeric-owner --blocking-factor=20";

std::string tappack(const std::string &args) { return quote(TAPPACK) + " " + args; }

unsigned long long le(const std::string &b, size_t at, size_t n) {
    unsigned long long v = 0;
    for (size_t i = 0; i < n; i++) v |= (unsigned long long)(unsigned char)b.at(at + i) << (8 * i);
    return v;
}

void putLe(std::string &b, size_t at, size_t n, unsigned long long v) {
    for (size_t i = 0; i < n; i++) b.at(at + i) = (char)(v >> (8 * i));
}

// A small tree with a long name, archived by GNU tar into dir/tree.tar.
std::string makeArchive(const std::string &dir) {
    std::string tree = dir + "/tree";
    std::string deep = tree + "/mnt/hd/ProgramFiles/Settings/a-folder-whose-name-is-long-enough-to-need-a-long-name-entry-in-the-archive";
    makeDirs(deep);
    writeFile(tree + "/mnt/hd/ProgramFiles/FirmwareTMS.dat", "22010 1.48\n");
    writeFile(deep + "/page.html", std::string(700, 'x'));
    writeFile(tree + "/mnt/hd/ProgramFiles/Zephyrdesk.tap", std::string(1500, 'T'));
    std::string archive = dir + "/tree.tar";
    EXPECT_EQ(0, run(kTar + " --mtime=@1518307200 -C " + quote(tree) + " -cf " + quote(archive) + " mnt", dir).status);
    return archive;
}

// The packed Sketch test TAP, with an archive of the small tree.
std::string packedSketch(const std::string &dir) {
    std::string out = dir + "/Sketch-packed.tap";
    Ran r = run(tappack("pack " + quote(TEST_TAP_DIR "/Sketch.tap") + " " + quote(makeArchive(dir)) + " " + quote(out)),
                dir);
    EXPECT_EQ(0, r.status) << r.err;
    return out;
}

// Offset of a header in a tar archive whose name field starts with text.
size_t headerNamed(const std::string &tar, const std::string &text) {
    for (size_t at = 0; at + 512 <= tar.size(); at += 512)
        if (tar.compare(at, text.size(), text) == 0) return at;
    return std::string::npos;
}

// Writes the header checksum as GNU tar does: six octal digits, NUL, blank.
void fixChecksum(std::string &tar, size_t header) {
    unsigned sum = 0;
    for (size_t i = 0; i < 512; i++) sum += i >= 148 && i < 156 ? ' ' : (unsigned char)tar[header + i];
    char field[9];
    snprintf(field, sizeof field, "%06o", sum);
    memcpy(&tar[header + 148], field, 7);
    tar[header + 155] = ' ';
}

// ---- Where the payload lies ------------------------------------------

struct FileCase {
    const char *name;
    std::function<std::string(const std::string &dir)> file; // empty: not there, skip
    bool installer;
};

const FileCase kFiles[] = {
    {"ThisBuildsInstaller", [](const std::string &) { return std::string(INSTALLER_TAP); }, true},
    {"OtherBuildsInstaller",
     [](const std::string &) { return fileExists(OTHER_INSTALLER_TAP) ? std::string(OTHER_INSTALLER_TAP) : ""; },
     true},
    {"PackedTestTap", packedSketch, false},
};

void PrintTo(const FileCase &c, std::ostream *os) { *os << c.name; }

class PackedFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(PackedFile, PayloadLiesAfterAllContentsAtAPageBoundary) {
    std::string dir = scratchFolder();
    std::string file = GetParam().file(dir);
    if (file.empty()) GTEST_SKIP() << "the other build has not been built";
    for (const char *program : {"readelf", "mipsel-linux-gnu-readelf"}) {
        Ran all = run(std::string(program) + " -a -W " + quote(file), dir);
        EXPECT_EQ(0, all.status) << program;
        EXPECT_EQ("", all.err) << program << " warns about " << file;
    }
    ElfView v = readelf(file, dir);
    ASSERT_TRUE(v.ok) << v.warnings;
    const ElfSection *payload = v.find(".Payload"), *crc = v.find(".PayloadCRC");
    ASSERT_NE(nullptr, payload);
    ASSERT_NE(nullptr, crc);
    EXPECT_EQ("PROGBITS", payload->type);
    EXPECT_EQ(0u, payload->addr);
    EXPECT_EQ("", payload->flags);
    EXPECT_EQ(1u, payload->align);
    EXPECT_EQ(0u, payload->offset % 4096) << std::hex << payload->offset;
    EXPECT_EQ(0u, payload->size % 512);
    EXPECT_EQ("PROGBITS", crc->type);
    EXPECT_EQ("", crc->flags);
    EXPECT_EQ(4u, crc->size);
    EXPECT_EQ(payload->index - 1, crc->index) << ".PayloadCRC comes just before .Payload";
    EXPECT_LE(crc->offset + crc->size, payload->offset);

    std::vector<std::string> tables = {".shstrtab", ".symtab", ".strtab"};
    unsigned long long tablesEnd = 0;
    for (const ElfSection &s : v.sections) {
        if (&s == payload || &s == crc || s.type == "NOBITS") continue;
        if (std::find(tables.begin(), tables.end(), s.name) != tables.end()) {
            EXPECT_GE(s.offset, payload->offset + payload->size) << s.name << " follows the payload";
            EXPECT_GT(s.index, payload->index) << s.name;
            tablesEnd = std::max(tablesEnd, s.offset + s.size);
        } else {
            EXPECT_LE(s.offset + s.size, crc->offset) << s.name << " lies before the payload";
            EXPECT_LT(s.index, crc->index) << s.name;
        }
    }
    EXPECT_NE(nullptr, v.find(".symtab")) << "the symbol table stays";
    EXPECT_GE(v.sectionTable, tablesEnd) << "the section header table comes last";

    Ran segments = run("readelf -l -W " + quote(file), dir);
    for (const std::string &line : lines(segments.out)) {
        std::vector<std::string> w = words(line);
        if (w.size() < 5 || w[0] != "LOAD") continue;
        EXPECT_LE(std::stoull(w[1], nullptr, 16) + std::stoull(w[4], nullptr, 16), crc->offset) << line;
    }

    std::string bytes = readFile(file);
    std::string gap = bytes.substr(crc->offset + 4, payload->offset - crc->offset - 4);
    EXPECT_EQ(std::string(gap.size(), '\0'), gap) << "zero padding before the payload";
    writeFile(dir + "/payload.tar", sectionBytes(bytes, *payload));
    EXPECT_EQ(gzipCrc(dir + "/payload.tar", dir), sectionBytes(bytes, *crc)) << "CRC-32, little-endian";
    if (GetParam().installer && v.machine == "MIPS") {
        EXPECT_LE(payload->offset, 0xB000u) << "the receiver's installer keeps its code small";
    }
    Ran check = run(tappack("check " + quote(file)), dir);
    EXPECT_EQ(0, check.status) << check.err;
}

INSTANTIATE_TEST_SUITE_P(Tappack, PackedFile, ::testing::ValuesIn(kFiles),
                         [](const ::testing::TestParamInfo<FileCase> &info) { return info.param.name; });

TEST(TappackPack, KeepsTheTapBeforeThePayload) {
    std::string dir = scratchFolder();
    std::string in = readFile(TEST_TAP_DIR "/Sketch.tap"), out = readFile(packedSketch(dir));
    ElfView before = readelf(TEST_TAP_DIR "/Sketch.tap", dir), after = readelf(dir + "/Sketch-packed.tap", dir);
    ASSERT_TRUE(before.ok && after.ok);
    size_t headerSize = before.wide ? 64 : 52;
    size_t crcOffset = after.find(".PayloadCRC")->offset;
    // Every section but the tables at the end keeps index, offset and bytes.
    for (const ElfSection &s : before.sections) {
        if (s.name == ".symtab" || s.name == ".strtab" || s.name == ".shstrtab") continue;
        const ElfSection *t = after.find(s.name);
        ASSERT_NE(nullptr, t) << s.name;
        EXPECT_EQ(s.index, t->index) << s.name;
        EXPECT_EQ(s.offset, t->offset) << s.name;
        if (s.type != "NOBITS") {
            EXPECT_EQ(sectionBytes(in, s), sectionBytes(out, *t)) << s.name;
        }
    }
    ASSERT_LE(crcOffset, in.size());
    EXPECT_TRUE(in.compare(headerSize, crcOffset - headerSize, out, headerSize, crcOffset - headerSize) == 0)
        << "the bytes between the ELF header and the payload are the input's";
    Ran symbolsBefore = run("readelf -s -W " + quote(TEST_TAP_DIR "/Sketch.tap"), dir);
    Ran symbolsAfter = run("readelf -s -W " + quote(dir + "/Sketch-packed.tap"), dir);
    EXPECT_EQ(symbolsBefore.out, symbolsAfter.out) << "symbols keep their sections";
}

TEST(TappackPack, ReplacesAnEarlierPayload) {
    std::string dir = scratchFolder();
    std::string first = packedSketch(dir);
    makeDirs(dir + "/other/mnt/hd");
    writeFile(dir + "/other/mnt/hd/x.txt", "x");
    ASSERT_EQ(0, run(kTar + " -C " + quote(dir + "/other") + " -cf " + quote(dir + "/other.tar") + " mnt", dir).status);
    std::string again = dir + "/again.tap", direct = dir + "/direct.tap";
    ASSERT_EQ(0, run(tappack("pack " + quote(first) + " " + quote(dir + "/other.tar") + " " + quote(again)), dir).status);
    ASSERT_EQ(0, run(tappack("pack " + quote(TEST_TAP_DIR "/Sketch.tap") + " " + quote(dir + "/other.tar") + " " +
                             quote(direct)), dir).status);
    EXPECT_TRUE(readFile(again) == readFile(direct)) << "repacking gives the file that packing the TAP gives";
    ElfView v = readelf(again, dir);
    EXPECT_EQ(1, std::count_if(v.sections.begin(), v.sections.end(),
                               [](const ElfSection &s) { return s.name == ".Payload"; }));
    EXPECT_EQ(readFile(dir + "/other.tar"), sectionBytes(readFile(again), *v.find(".Payload")));
}

struct FolderCase {
    const char *name;
    const char *environment;
    const char *expectedTime; // of every entry, as tar --full-time shows it in UTC
};

const FolderCase kFolders[] = {
    {"TimesFromSourceDateEpoch", "SOURCE_DATE_EPOCH=1518307200", "2018-02-11 00:00:00"},
    {"OwnTimesWithoutIt", "env -u SOURCE_DATE_EPOCH", "2016-02-29 13:05:09"},
};

void PrintTo(const FolderCase &c, std::ostream *os) { *os << c.name; }

class TappackPackFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(TappackPackFolder, ArchivesItAsTheBuildDoes) {
    std::string dir = scratchFolder();
    std::string tree = dir + "/tree";
    makeDirs(tree + "/mnt/hd/b");
    makeDirs(tree + "/mnt/hd/a");
    writeFile(tree + "/mnt/hd/b/2.txt", "2");
    writeFile(tree + "/mnt/hd/B.txt", "B");
    writeFile(tree + "/mnt/hd/a/1.txt", "1");
    ASSERT_EQ(0, run("find " + quote(tree) + " -exec touch -h -d '2016-02-29 13:05:09 UTC' {} +", dir).status);
    std::string out = dir + "/out.tap";
    Ran r = run(std::string(GetParam().environment) + " " +
                    tappack("pack " + quote(TEST_TAP_DIR "/Sketch.tap") + " " + quote(tree) + " " + quote(out)),
                dir);
    ASSERT_EQ(0, r.status) << r.err;
    ElfView v = readelf(out, dir);
    ASSERT_TRUE(v.ok);
    writeFile(dir + "/payload.tar", sectionBytes(readFile(out), *v.find(".Payload")));
    Ran list = tarList(dir + "/payload.tar", dir, "--full-time");
    ASSERT_EQ(0, list.status) << list.err;
    std::vector<std::string> names;
    for (const std::string &line : lines(list.out)) {
        std::vector<std::string> w = words(line);
        ASSERT_EQ(6u, w.size()) << line;
        EXPECT_EQ("0/0", w[1]) << line;
        EXPECT_EQ(GetParam().expectedTime, w[3] + " " + w[4]) << line;
        names.push_back(w[5]);
    }
    std::vector<std::string> expected = {"mnt/", "mnt/hd/", "mnt/hd/B.txt", "mnt/hd/a/", "mnt/hd/a/1.txt",
                                         "mnt/hd/b/", "mnt/hd/b/2.txt"};
    EXPECT_EQ(expected, names) << "sorted, every folder before its contents";
    EXPECT_EQ(0u, v.find(".Payload")->size % 10240);
}

INSTANTIATE_TEST_SUITE_P(Tappack, TappackPackFolder, ::testing::ValuesIn(kFolders),
                         [](const ::testing::TestParamInfo<FolderCase> &info) { return info.param.name; });

// ---- What the build's installer carries --------------------------------

class InstallerPayload : public ::testing::Test {
protected:
    void SetUp() override {
        dir = scratchFolder();
        ElfView v = readelf(INSTALLER_TAP, dir);
        ASSERT_TRUE(v.ok && v.find(".Payload")) << v.warnings;
        archive = dir + "/payload.tar";
        writeFile(archive, sectionBytes(readFile(INSTALLER_TAP), *v.find(".Payload")));
    }
    std::string dir, archive;
};

TEST_F(InstallerPayload, ArchiveIsTheTreeStampedWithTheCommitTime) {
    std::string tar = readFile(archive);
    EXPECT_EQ(0u, tar.size() % 10240) << "whole tar records";
    EXPECT_EQ(std::string(1024, '\0'), tar.substr(tar.size() - 1024)) << "end-of-archive blocks kept";
    Ran list = tarList(archive, dir, "--full-time");
    ASSERT_EQ(0, list.status) << list.err;
    time_t epoch = (time_t)SOURCE_DATE_EPOCH_VALUE;
    Ran commit = run("git -C " + quote(SOURCE_DIR) + " log -1 --format=%ct", dir);
    if (commit.status == 0 && !getenv("SOURCE_DATE_EPOCH")) {
        EXPECT_EQ(std::to_string(SOURCE_DATE_EPOCH_VALUE) + "\n", commit.out) << "the time of the last commit";
    }
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", gmtime(&epoch));
    std::vector<std::string> names;
    std::map<std::string, std::string> lastChild; // folder -> its last entry so far
    size_t over99 = 0, over200 = 0;
    for (const std::string &line : lines(list.out)) {
        std::vector<std::string> w = words(line);
        ASSERT_EQ(6u, w.size()) << line;
        EXPECT_EQ("0/0", w[1]) << line;
        EXPECT_EQ(stamp, w[3] + " " + w[4]) << line;
        std::string name = w[5];
        std::string trimmed = name.back() == '/' ? name.substr(0, name.size() - 1) : name;
        size_t slash = trimmed.rfind('/');
        if (slash != std::string::npos) {
            std::string parent = trimmed.substr(0, slash + 1);
            EXPECT_TRUE(std::find(names.begin(), names.end(), parent) != names.end()) << parent << " before " << name;
            EXPECT_LT(lastChild[parent], trimmed.substr(slash + 1)) << "names sorted in " << parent;
            lastChild[parent] = trimmed.substr(slash + 1);
        }
        over99 += name.size() > 99, over200 += name.size() > 200;
        names.push_back(name);
    }
    ASSERT_GE(names.size(), 5u);
    std::vector<std::string> first(names.begin(), names.begin() + 4);
    EXPECT_EQ((std::vector<std::string>{"mnt/", "mnt/hd/", "mnt/hd/ProgramFiles/",
                                        "mnt/hd/ProgramFiles/FirmwareTMS.dat"}), first);
    EXPECT_EQ("mnt/hd/ProgramFiles/Zephyrdesk-Config.tap", names[names.size() - 2]);
    EXPECT_EQ("mnt/hd/ProgramFiles/Zephyrdesk.tap", names.back());
    EXPECT_GE(over99, 2u);
    EXPECT_GE(over200, 1u);
    const std::string s = "mnt/hd/ProgramFiles/Settings/", web = s + "Zephyrdesk/public_html/";
    for (const std::string &wanted : {s + "epg-genre-descriptions.lng", s + "epg-parental.lng",
                                      s + "Fonts/DejaVuSansMono.ttf", s + "Zephyrdesk/Zephyrdesk-Config.lng",
                                      s + "Zephyrdesk/epgsearch", web + "index.html", web + "css/zephyrdesk.css",
                                      web + "js/zephyrdesk.js", web + "images/icons/record.png"})
        EXPECT_TRUE(std::find(names.begin(), names.end(), wanted) != names.end()) << wanted;
}

TEST_F(InstallerPayload, CarriesTheStrippedProductTapsOfThisBuild) {
    for (const char *tap : {"Zephyrdesk.tap", "Zephyrdesk-Config.tap"}) {
        std::string member = std::string("mnt/hd/ProgramFiles/") + tap;
        Ran r = run("tar -xOf " + quote(archive) + " " + member, dir);
        ASSERT_EQ(0, r.status) << r.err;
        EXPECT_TRUE(r.out == readFile(std::string(PAYLOAD_TREE "/") + member)) << tap;
        writeFile(dir + "/" + tap, r.out);
        ElfView v = readelf(dir + "/" + tap, dir);
        ASSERT_TRUE(v.ok) << tap;
        ElfView built = readelf(std::string(PRODUCT_TAP_DIR "/") + tap, dir);
        EXPECT_EQ(built.machine, v.machine) << tap << " is built for this target";
        for (const ElfSection &sec : v.sections) EXPECT_NE(0u, sec.name.find(".debug")) << tap << " " << sec.name;
    }
}

TEST_F(InstallerPayload, ListAndInfoShowWhatTarShows) {
    Ran tar = tarList(archive, dir);
    ASSERT_EQ(0, tar.status);
    Ran list = run("TZ=UTC " + tappack("list " + quote(INSTALLER_TAP)), dir);
    EXPECT_EQ(0, list.status) << list.err;
    EXPECT_EQ(tar.out, list.out);

    size_t entries = 0, directories = 0, files = 0, longNames = 0;
    unsigned long long bytes = 0;
    for (const std::string &line : lines(tar.out)) {
        std::vector<std::string> w = words(line);
        entries++;
        directories += line[0] == 'd';
        if (line[0] == '-') files++, bytes += std::stoull(w[2]);
        longNames += w[5].size() > 100; // GNU tar gives names over 100 characters a long-name entry
    }
    Ran info = run(tappack("info " + quote(INSTALLER_TAP)), dir);
    ASSERT_EQ(0, info.status) << info.err;
    EXPECT_NE(std::string::npos, info.out.find("TAP ID:       0x51525619\n")) << info.out;
    EXPECT_NE(std::string::npos, info.out.find("program name: Zephyrdesk-Install 2.20\n")) << info.out;
    EXPECT_NE(std::string::npos, info.out.find("description:  Install Zephyrdesk.\n")) << info.out;
    EXPECT_NE(std::string::npos, info.out.find("build date:   Feb 11 2018\n")) << info.out;
    EXPECT_NE(std::string::npos, info.out.find("whole:        yes")) << info.out;
    ElfView v = readelf(INSTALLER_TAP, dir);
    const ElfSection *p = v.find(".Payload");
    char payload[200];
    snprintf(payload, sizeof payload, "payload:      offset %llu (0x%llX), %llu bytes, %llu records of 10240 bytes",
             p->offset, p->offset, p->size, p->size / 10240);
    EXPECT_NE(std::string::npos, info.out.find(payload)) << info.out;
    std::string counts = "archive:      " + std::to_string(entries) + " entries, " + std::to_string(directories) +
                         " directories, " + std::to_string(files) + " files, " + std::to_string(bytes) +
                         " bytes of file data, " + std::to_string(longNames) + " long names";
    EXPECT_NE(std::string::npos, info.out.find(counts)) << info.out;
}

// ---- tappack list and check on test archives ---------------------------

TEST(TappackList, ShowsWhatTarShows) {
    std::string dir = scratchFolder();
    std::string tree = dir + "/tree/mnt/hd";
    std::string deep = tree + "/" + std::string(120, 'd') + "/" + std::string(90, 'e');
    makeDirs(deep);
    writeFile(deep + "/f", std::string(5000, 'f'));
    writeFile(tree + "/" + std::string(100 - 7, 'n'), "exactly 100 characters"); // "mnt/hd/" + 93
    writeFile(tree + "/a b\\c\tg\xC3\xBC", "quoted");
    ASSERT_EQ(0, symlink("a b\\c\tg\xC3\xBC", (tree + "/link").c_str()));
    ASSERT_EQ(0, link((deep + "/f").c_str(), (tree + "/hard").c_str()));
    ASSERT_EQ(0, run("tar --format=gnu -C " + quote(dir + "/tree") + " -cf " + quote(dir + "/t.tar") + " mnt", dir).status);
    std::string packed = dir + "/t.tap";
    ASSERT_EQ(0, run(tappack("pack " + quote(TEST_TAP_DIR "/Sketch.tap") + " " + quote(dir + "/t.tar") + " " +
                             quote(packed)), dir).status);
    Ran tar = tarList(dir + "/t.tar", dir);
    Ran list = run("LC_ALL=C TZ=UTC " + tappack("list " + quote(packed)), dir);
    EXPECT_EQ(0, list.status) << list.err;
    EXPECT_EQ(tar.out, list.out);
    EXPECT_EQ(9u, lines(list.out).size());
}

struct Damage {
    const char *name;
    std::function<void(std::string &tar)> archive;                   // before packing, or null
    std::function<void(std::string &tap, const ElfView &v)> tapFile; // after packing, or null
    const char *problem;                                             // empty: a sound file
};

// Patches a field of the .Payload section header.
void patchPayloadHeader(std::string &tap, const ElfView &v, bool offsetField, long long delta) {
    const ElfSection *p = v.find(".Payload");
    size_t header = v.sectionTable + (size_t)p->index * v.sectionHeaderSize;
    size_t at = header + (v.wide ? (offsetField ? 24 : 32) : (offsetField ? 16 : 20));
    size_t width = v.wide ? 8 : 4;
    putLe(tap, at, width, le(tap, at, width) + delta);
}

const Damage kDamage[] = {
    {"Sound", nullptr, nullptr, ""},
    {"SectionOutsideFile", nullptr,
     [](std::string &tap, const ElfView &v) { patchPayloadHeader(tap, v, false, (long long)tap.size()); },
     ".Payload lies outside the file"},
    {"OffsetNotPageAligned", nullptr,
     [](std::string &tap, const ElfView &v) {
         patchPayloadHeader(tap, v, true, 512);
         patchPayloadHeader(tap, v, false, -512);
     },
     "is not a multiple of 4096"},
    {"CrcMismatch", nullptr,
     [](std::string &tap, const ElfView &v) {
         std::string tar = sectionBytes(tap, *v.find(".Payload"));
         size_t data = headerNamed(tar, "mnt/hd/ProgramFiles/FirmwareTMS.dat") + 512;
         tap[v.find(".Payload")->offset + data] ^= 1;
     },
     "CRC mismatch"},
    {"HeaderChecksum",
     [](std::string &tar) { tar[headerNamed(tar, "mnt/hd/ProgramFiles/FirmwareTMS.dat") + 30] ^= 1; }, nullptr,
     "header checksum fails"},
    {"EntryPastSection",
     [](std::string &tar) {
         size_t h = headerNamed(tar, "mnt/hd/ProgramFiles/Zephyrdesk.tap");
         memcpy(&tar[h + 124], "00000100000", 11); // 32 KiB, beyond the archive's end
         fixChecksum(tar, h);
     },
     nullptr, "data runs past the end of the archive"},
    {"NegativeSize",
     [](std::string &tar) {
         size_t h = headerNamed(tar, "mnt/hd/ProgramFiles/FirmwareTMS.dat");
         memcpy(&tar[h + 124], "-0000000013", 11);
         fixChecksum(tar, h);
     },
     nullptr, "negative size"},
    {"NameOver510",
     [](std::string &tar) {
         size_t h = headerNamed(tar, "././@LongLink");
         size_t length = strlen(&tar[h + 512]);
         memset(&tar[h + 512 + length], 'y', 511 - length); // the name grows to 511 characters
         fixChecksum(tar, h);
     },
     nullptr, "long name of 511 characters, over 510"},
    {"DotDotComponent",
     [](std::string &tar) {
         size_t h = headerNamed(tar, "mnt/hd/ProgramFiles/FirmwareTMS.dat");
         memcpy(&tar[h], "mnt/hd/ProgramFiles/../FirmwareTMS", 34); // same length as the old name less one
         tar[h + 34] = '\0';
         fixChecksum(tar, h);
     },
     nullptr, "\"..\" in the name mnt/hd/ProgramFiles/../FirmwareTMS"},
};

void PrintTo(const Damage &d, std::ostream *os) { *os << d.name; }

class TappackCheck : public ::testing::TestWithParam<Damage> {};

TEST_P(TappackCheck, NamesTheFirstProblem) {
    const Damage &d = GetParam();
    std::string dir = scratchFolder();
    std::string tar = readFile(makeArchive(dir));
    if (d.archive) {
        d.archive(tar);
    }
    writeFile(dir + "/in.tar", tar);
    std::string tap = dir + "/in.tap";
    Ran pack = run(tappack("pack " + quote(TEST_TAP_DIR "/Sketch.tap") + " " + quote(dir + "/in.tar") + " " + quote(tap)),
                   dir);
    ASSERT_EQ(0, pack.status) << pack.err;
    if (d.tapFile) {
        ElfView v = readelf(tap, dir);
        ASSERT_TRUE(v.ok);
        std::string bytes = readFile(tap);
        d.tapFile(bytes, v);
        writeFile(tap, bytes);
    }
    Ran check = run(tappack("check " + quote(tap)), dir);
    if (std::string(d.problem).empty()) {
        EXPECT_EQ(0, check.status) << check.err;
        EXPECT_EQ(0u, check.out.find(tap + ": sound installer (")) << check.out;
        EXPECT_EQ("", check.err);
        return;
    }
    EXPECT_EQ(1, check.status) << d.name;
    EXPECT_EQ(1u, lines(check.err).size()) << check.err;
    EXPECT_EQ(0u, check.err.find(tap + ": ")) << check.err;
    EXPECT_NE(std::string::npos, check.err.find(d.problem)) << d.name << ": " << check.err;
}

INSTANTIATE_TEST_SUITE_P(Tappack, TappackCheck, ::testing::ValuesIn(kDamage),
                         [](const ::testing::TestParamInfo<Damage> &info) { return info.param.name; });

// ---- The packed file in the stand-in -------------------------------------

class PackedTapInStandIn : public EmuTest {
protected:
    void configure(EmuOptions &) override {
        // before the receiver starts: host programs cannot run under it
        std::string dir = std::string(TEST_SCRATCH_DIR) + "/PackedTapInStandIn.input";
        removeTree(dir);
        makeDirs(dir);
        packed = packedSketch(dir);
    }
    std::string packed;
};

TEST_F(PackedTapInStandIn, LoadsRunsAndEnds) {
    char err[256] = "";
    int tap = emuLoadTap(packed.c_str(), err, sizeof err);
    ASSERT_GE(tap, 0) << err;
    EXPECT_TRUE(emuSlotRunning(tap));
    EXPECT_EQ(0u, emuDeliver(tap, EVT_KEY, KEY_EXIT_REMOTE, 0));
    EXPECT_FALSE(emuSlotRunning(tap)) << "the packed TAP still runs as it did";
}

} // namespace
