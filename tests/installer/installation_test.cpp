// The whole installation as a user meets it: the genuine installer TAP in
// tapemu, driven through its screens by a key script, on a disk folder of
// its own, in the sandbox and without it.  Each scenario checks the disk,
// the installation log (line by line) and the trace together.  Expected
// values come from GNU tar (the archive that lies at the offset and size
// readelf gives for ".Payload"), gzip (CRC-32), the files' bytes and the
// texts the installer writes.  Host programs run before tapemu starts.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <dirent.h>

#include <algorithm>
#include <functional>
#include <map>

#include "../payload/tools.h"
#include "installer_screens.h"

namespace {

using payloadtest::ElfSection;
using payloadtest::ElfView;
using payloadtest::quote;

const std::string kTime = "2016-02-29 13:05:09";
const std::string kInstaller = "/ProgramFiles/Zephyrdesk-Install.tap";
const std::string kLog = "/ProgramFiles/Settings/Logs/Zephyrdesk-Install.log";
const dword kMainId = 0x5152560F, kConfigId = 0x51525610, kInstallerId = 0x51525619;
const char *const kTwin = "/ProgramFiles/TwinA.tap";
const char *const kRemover = "/ProgramFiles/Remover.tap";
const char *const kUnmarker = "/ProgramFiles/Unmarker.tap";
const char *const kMain = "/ProgramFiles/Zephyrdesk.tap";
const char *const kConfig = "/ProgramFiles/Zephyrdesk-Config.tap";

// The TAP ID in each file the scenarios start.
dword tapId(const std::string &path) {
    static const std::map<std::string, dword> ids = {
        {kTwin, 0x51525601},     {kRemover, 0x51525605},  {kUnmarker, 0x51525606},
        {kMain, kMainId},        {kConfig, kConfigId},    {"/ProgramFiles/AutoStart/Zephyrdesk.tap", kMainId},
        {kInstaller, kInstallerId}};
    return ids.at(path);
}

std::string hex8(dword v) {
    char s[16];
    snprintf(s, sizeof s, "%08X", (unsigned)v);
    return s;
}

// ---- The disk ------------------------------------------------------------

// A file ('f': bytes and time) or folder ('d') of the disk.
struct Node {
    char type;
    std::string bytes;
    long long mtime;  // -1: not compared
};
using Tree = std::map<std::string, Node>;  // paths below the disk, folders ending with "/"

void walk(const std::string &root, const std::string &rel, Tree &tree) {
    DIR *d = opendir((root + "/" + rel).c_str());
    while (dirent64 *e = d ? readdir64(d) : nullptr) {
        std::string name = e->d_name, path = rel + name;
        struct stat64 st;
        if (name == "." || name == ".." || lstat64((root + "/" + path).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            tree[path + "/"] = {'d', "", -1};
            walk(root, path + "/", tree);
        } else {
            tree[path] = {S_ISREG(st.st_mode) ? 'f' : '?', readFile(root + "/" + path), (long long)st.st_mtime};
        }
    }
    if (d) closedir(d);
}

// The disk as it is, the installation log left out (it is read line by line).
Tree snapshot(const std::string &disk) {
    Tree t;
    walk(disk, "", t);
    t.erase(kLog.substr(1));
    return t;
}

void expectTree(const Tree &want, const Tree &got, const std::string &what) {
    for (const auto &w : want) {
        auto g = got.find(w.first);
        if (g == got.end()) {
            ADD_FAILURE() << what << ": " << w.first << " is missing";
            continue;
        }
        EXPECT_EQ(w.second.type, g->second.type) << what << ": " << w.first;
        EXPECT_TRUE(w.second.bytes == g->second.bytes) << what << ": the bytes of " << w.first;
        if (w.second.mtime >= 0) {
            EXPECT_EQ(w.second.mtime, g->second.mtime) << what << ": the time of " << w.first;
        }
    }
    for (const auto &g : got)
        if (!want.count(g.first)) ADD_FAILURE() << what << ": " << g.first << " should not be there";
}

// ---- The archive, as GNU tar lists and extracts it -------------------------

struct Member {
    std::string name;  // as stored, folders ending with "/"
    char type;         // '0' file, '5' folder
    std::string bytes;
    long long mtime;
};

struct Payload {
    ElfSection section;          // ".Payload" as readelf shows it
    dword storedCrc = 0;         // the four bytes of ".PayloadCRC"
    std::string tar;             // the section's bytes
    std::vector<Member> members;
    std::vector<dword> headers;  // every header position the walk visits, empty blocks included
};

// A shell command in dir, output captured there.
payloadtest::Ran inFolder(const std::string &dir, const std::string &command) {
    return payloadtest::run("cd " + quote(dir) + " && " + command, dir);
}

// The section's bytes of the installer file, taken where readelf says they lie.
Payload payloadOf(const std::string &file, const std::string &dir) {
    Payload p;
    ElfView v = payloadtest::readelf(file, dir);
    const ElfSection *s = v.find(".Payload"), *crc = v.find(".PayloadCRC");
    if (!s || !crc || crc->size != 4) {
        ADD_FAILURE() << file << " has no .Payload and .PayloadCRC";
        return p;
    }
    std::string bytes = readFile(file);
    p.section = *s;
    p.tar = payloadtest::sectionBytes(bytes, *s);
    p.storedCrc = (dword)readLe(payloadtest::sectionBytes(bytes, *crc), 0, 4);
    writeFile(dir + "/payload.tar", p.tar);
    makeDirs(dir + "/ref");
    payloadtest::Ran x = inFolder(dir, "tar -x -f payload.tar -C ref");
    payloadtest::Ran list = inFolder(dir, "tar --quoting-style=literal -tR -f payload.tar");
    EXPECT_EQ(0, x.status) << x.err;
    EXPECT_EQ(0, list.status) << list.err;
    for (const std::string &line : lines(list.out)) {
        dword block = (dword)atol(line.c_str() + 6);
        std::string name = line.substr(line.find(": ") + 2);
        if (name == "** Block of NULs **") {
            for (dword at = block * 512; at < p.tar.size(); at += 512) p.headers.push_back(at);
            break;
        }
        struct stat64 st;
        lstat64((dir + "/ref/" + name).c_str(), &st);
        bool folder = S_ISDIR(st.st_mode);
        p.members.push_back({name, folder ? '5' : '0', folder ? "" : readFile(dir + "/ref/" + name),
                             (long long)st.st_mtime});
        p.headers.push_back(block * 512);
        // a long name comes in an entry of its own: its header and name blocks first
        if (name.size() > 100) p.headers.push_back((block + 1 + (dword)(name.size() + 512) / 512) * 512);
    }
    return p;
}

// The flags of an archive name: the two TAPs and the keep-newer firmware table.
int flagsOf(const std::string &name) {
    if (name == "mnt/hd/ProgramFiles/Zephyrdesk-Config.tap") return 12;
    if (name == "mnt/hd/ProgramFiles/Zephyrdesk.tap") return 4;
    if (name == "mnt/hd/ProgramFiles/FirmwareTMS.dat") return 1;
    return 0;
}

// Where a member lands below the disk ("" for mnt/ and mnt/hd/ themselves).
std::string onDisk(const std::string &name) { return name.size() > 7 ? name.substr(7) : ""; }

// ---- Faults of the disk, as tapemu's options ask for them -------------------

// The calls a fault strikes, numbered over the whole run per kind, played
// through in the order the installer makes them: each log line opens the
// log, writes its time stamp, text and CR LF and sets the log's time; each
// look-up of a TAP by its ID opens the slots' files up to the one found.
struct FaultModel {
    struct Rule {
        std::string call;
        int error;
        unsigned nth;  // 0: every call
    };
    std::vector<Rule> fails;
    std::vector<unsigned> shortWrites;
    long long diskFull = -1;  // bytes; -1: no limit
    std::string readOnly;     // a folder below the disk ("ProgramFiles/Settings/Zephyrdesk/"), "" for none
    long heapBlocks = -1;
    std::map<std::string, unsigned> counts;
    long long written = 0;
    int strikes = 0;  // the FAULT lines the trace must show
    // each call in order, "write ProgramFiles/x" or "line Installing...": its
    // number among its kind, and the bytes written before it
    std::vector<std::pair<std::string, std::pair<unsigned, long long>>> marks;

    static int errorNumber(const std::string &name) {
        static const std::map<std::string, int> numbers = {{"EIO", EIO},     {"ENOSPC", ENOSPC}, {"EACCES", EACCES},
                                                           {"EROFS", EROFS}, {"EPERM", EPERM},   {"ENOMEM", ENOMEM},
                                                           {"EAGAIN", EAGAIN}};
        return numbers.at(name);
    }

    FaultModel() = default;
    explicit FaultModel(const std::vector<std::string> &options) {
        for (size_t i = 0; i + 1 < options.size(); i += 2) {
            const std::string &o = options[i], &v = options[i + 1];
            if (o == "--fail") {
                size_t colon = v.find(':'), at = v.find('@');
                fails.push_back({v.substr(0, colon), errorNumber(v.substr(colon + 1, at - colon - 1)),
                                 at == std::string::npos ? 0u : (unsigned)atol(v.c_str() + at + 1)});
            }
            if (o == "--short-write") shortWrites.push_back((unsigned)atol(v.c_str()));
            if (o == "--disk-full") diskFull = atoll(v.c_str());
            if (o == "--read-only") readOnly = v.substr(1) + "/";
            if (o == "--heap-blocks") heapBlocks = atol(v.c_str());
        }
    }

    // One call of the kind on rel (below the disk, folders ending with "/"):
    // 0 or its errno.  creates: it would make rel when absent.
    int call(const std::string &kind, const std::string &rel, bool changes, bool creates, const Tree &tree) {
        unsigned n = ++counts[kind];
        marks.push_back({kind + " " + rel, {n, written}});
        for (const Rule &r : fails)
            if (r.call == kind && (!r.nth || r.nth == n)) return strikes++, r.error;
        if (!changes || readOnly.empty() || (rel + "/").compare(0, readOnly.size(), readOnly) != 0) return 0;
        std::string bare = rel.back() == '/' ? rel.substr(0, rel.size() - 1) : rel;
        std::string parent = bare.substr(0, bare.rfind('/') + 1);
        bool there = tree.count(bare) || tree.count(bare + "/");
        if (!there && !(creates && tree.count(parent))) return 0;  // fails by itself
        if (there && kind == "mkdir") return 0;                    // EEXIST first
        return strikes++, EROFS;
    }

    // One write of size bytes: the count written, or -1 with *error.
    long long write(const std::string &rel, long long size, int *error) {
        unsigned n = ++counts["write"];
        marks.push_back({"write " + rel, {n, written}});
        *error = 0;
        for (const Rule &r : fails)
            if (r.call == "write" && (!r.nth || r.nth == n)) return strikes++, *error = r.error, -1;
        if (std::count(shortWrites.begin(), shortWrites.end(), n)) strikes++, size /= 2;
        if (diskFull >= 0 && size > 0) {
            long long room = std::max(0LL, diskFull - written);
            if (room == 0) return strikes++, *error = ENOSPC, -1;
            if (room < size) strikes++, size = room;
        }
        written += size;
        return size;
    }

    // The options with each "{call path}" put in: the number of that call
    // (the first of its kind there), for --disk-full the bytes written before
    // it, plus what follows "}+".
    std::vector<std::string> resolve(std::vector<std::string> options) const {
        for (size_t i = 1; i < options.size(); i++) {
            std::string &v = options[i];
            size_t open = v.find('{'), close = v.find('}');
            if (open == std::string::npos) continue;
            std::string key = v.substr(open + 1, close - open - 1);
            auto m = std::find_if(marks.begin(), marks.end(), [&](const auto &m) { return m.first.rfind(key, 0) == 0; });
            EXPECT_NE(marks.end(), m) << "no call " << key;
            if (m == marks.end()) continue;
            long long value = options[i - 1] == "--disk-full" ? m->second.second : m->second.first;
            if (v.compare(close + 1, 1, "+") == 0) value += atoll(v.c_str() + close + 2);
            v = v.substr(0, open) + std::to_string(value);
        }
        return options;
    }
};

// ---- Damaged installer files -------------------------------------------------

enum class Damage { None, FlippedByte, PayloadCut, FileCut, Unnamed };

// The section table and everything after the payload moved down to the
// middle of the payload, e_shoff and the moved sections' offsets patched.
std::string cutPayload(std::string file, const ElfView &v, const ElfSection &payload) {
    unsigned long long end = payload.offset + payload.size, cut = payload.offset + payload.size / 2;
    unsigned long long shift = end - cut;
    EXPECT_EQ(0u, shift % 8) << "the moved sections keep their alignment";
    EXPECT_GE(v.sectionTable, end) << "the section table follows the payload";
    file.erase(cut, shift);
    bool w = v.wide;
    auto patch = [&](size_t at) { writeLe(file, at, w ? 8 : 4, readLe(file, at, w ? 8 : 4) - shift); };
    patch(w ? 0x28 : 0x20);
    for (const ElfSection &s : v.sections)
        if (s.offset >= end) patch(v.sectionTable - shift + s.index * v.sectionHeaderSize + (w ? 0x18 : 0x10));
    return file;
}

std::string damaged(const std::string &file, Damage damage, const std::string &dir) {
    ElfView v = payloadtest::readelf(file, dir);
    const ElfSection *p = v.find(".Payload");
    std::string bytes = readFile(file);
    if (!p) return bytes;
    if (damage == Damage::FlippedByte) bytes[p->offset + p->size / 2] ^= 0x20;
    if (damage == Damage::PayloadCut) bytes = cutPayload(bytes, v, *p);
    if (damage == Damage::FileCut) bytes.resize(p->offset + p->size / 2);
    const ElfSection *names = v.find(".shstrtab");
    if (damage == Damage::Unnamed && names) {  // the section's name in the name table, ".PayloadCRC" kept
        size_t at = bytes.find(std::string(".Payload", 9), names->offset);
        if (at < names->offset + names->size) bytes[at + 5] = 'x';
    }
    return bytes;
}

// ---- Scenarios -------------------------------------------------------------------

enum class End { Installed, NoInstance, NoName, NoSection, BadChecksum, PayloadIncomplete, Refused };
enum Target { kToAutoStart, kToProgramFiles };

// One start of the receiver with the installer, through its screens.
struct Boot {
    Target target;
    std::vector<std::string> before;  // TAPs started before the installer, in order
    bool autostart = false;           // the AutoStart folder's TAPs first, as at boot
    End end = End::Installed;
};

struct Scenario {
    const char *name;
    std::vector<Boot> boots;
    Damage damage = Damage::None;  // of the installer's file
    bool autoStartFolder = true;   // the disk has /ProgramFiles/AutoStart
    bool earlier = false;          // an earlier installation lies on the disk (GNU tar's)
    bool firmware = false;         // FirmwareTMS.dat lies on the disk, firmwareAge seconds newer than the archive's
    long firmwareAge = 0;
    std::vector<std::string> faults = {};  // tapemu's fault options, option and value
};

void PrintTo(const Scenario &s, std::ostream *o) { *o << s.name; }

std::vector<Scenario> scenarios() {
    const Damage none = Damage::None;
    return {
        {"FreshDiskIntoAutoStart", {{kToAutoStart, {kTwin}}}},
        {"FreshDiskIntoProgramFiles", {{kToProgramFiles, {kTwin}}}},
        {"SecondBootStopsTheMainTapFromAutoStart", {{kToAutoStart, {kTwin}}, {kToProgramFiles, {}, true}}},
        {"BothProductTapsRunning", {{kToAutoStart, {kMain, kConfig}}}, none, true, true},
        {"NewerFirmwareTableKept", {{kToProgramFiles, {kTwin}}}, none, true, false, true, 3600},
        {"OlderFirmwareTableReplaced", {{kToProgramFiles, {kTwin}}}, none, true, false, true, -3600},
        {"EqualFirmwareTableReplaced", {{kToProgramFiles, {kTwin}}}, none, true, false, true, 0},
        {"OwnFileRemoved", {{kToAutoStart, {kRemover}, false, End::NoInstance}}},
        {"OwnPathRecordSpoilt", {{kToAutoStart, {kUnmarker}, false, End::NoName}}},
        {"NoAutoStartFolder", {{kToAutoStart, {kTwin}}}, none, false},
        {"NoAutoStartFolderAfterAnEarlierInstallation", {{kToProgramFiles, {kTwin}}}, none, false, true},
        {"FlippedPayloadByte", {{kToProgramFiles, {kTwin}, false, End::BadChecksum}}, Damage::FlippedByte},
        {"PayloadCutShort", {{kToProgramFiles, {kTwin}, false, End::PayloadIncomplete}}, Damage::PayloadCut},
        {"FileCutShort", {{kToProgramFiles, {kTwin}, false, End::Refused}}, Damage::FileCut},
        {"NoPayloadSection", {{kToProgramFiles, {kTwin}, false, End::NoSection}}, Damage::Unnamed},
    };
}

// One installation on a fresh disk (or over GNU tar's extraction) with
// faults; "{call path}" in an option stands for the number of that call in
// the run, worked out by FaultModel.
Scenario faulty(const char *name, std::vector<std::string> faults, bool earlier = false, End end = End::Installed,
                Target target = kToProgramFiles) {
    Scenario s{name, {{target, {kTwin}, false, end}}};
    s.earlier = earlier;
    s.faults = faults;
    return s;
}

std::vector<Scenario> faultScenarios() {
    const std::string fonts = "ProgramFiles/Settings/Fonts/", web = "ProgramFiles/Settings/Zephyrdesk/";
    Scenario staleTable = faulty("StatusFailsSoANewerFirmwareTableIsReplaced", {"--fail", "stat64:EIO"}, true);
    staleTable.firmware = true, staleTable.firmwareAge = 3600;
    return {
        faulty("WriteFailsAtTheFirstFile", {"--fail", "write:ENOSPC@{write ProgramFiles/FirmwareTMS.dat}"}),
        faulty("WriteFailsInAFolder", {"--fail", "write:EIO@{write " + fonts + "DejaVu-copyright.txt}"}),
        faulty("WriteFailsAtTheMainTapWhichIsCopied",
               {"--fail", "write:EIO@{write ProgramFiles/Zephyrdesk.tap}"}, false, End::Installed, kToAutoStart),
        faulty("ShortWriteOfTheLargestFile", {"--short-write", "{write " + fonts + "DejaVuSansMono.ttf}"}),
        faulty("ShortWriteOfTheConfigurationTap", {"--short-write", "{write ProgramFiles/Zephyrdesk-Config.tap}"}, true),
        faulty("DiskFullInsideAFile", {"--disk-full", "{write " + fonts + "DejaVuSansMono.ttf}+1000"}),
        faulty("DiskFullAtALogLine", {"--disk-full", "{line Installing from}"}),
        faulty("DiskFullInsideALogLine", {"--disk-full", "{line Payload offset}+30"}),
        faulty("OpenFailsForAFile", {"--fail", "open:EACCES@{open " + web + "epgsearch}"}),
        faulty("MkdirFailsSoItsFilesCannotBeCreated", {"--fail", "mkdir:EACCES@{mkdir " + fonts + "}"}),
        faulty("MkdirFailsForAFolderWithSubfolders", {"--fail", "mkdir:EPERM@{mkdir " + web + "public_html/help/}"}),
        faulty("UtimeFailsForAFile", {"--fail", "utime:EPERM@{utime ProgramFiles/Settings/epg-parental.lng}"}),
        faulty("UtimeFailsForAFolder", {"--fail", "utime:EACCES@{utime " + web + "}"}),
        staleTable,
        faulty("MmapFails", {"--fail", "mmap:ENOMEM"}),
        faulty("SystemFails", {"--fail", "system:EAGAIN"}, false, End::Installed, kToAutoStart),
        faulty("ReadOnlyFolderOverAnEarlierInstallation", {"--read-only", "/" + web.substr(0, web.size() - 1)}, true),
        faulty("ReadOnlyFolderOnAFreshDisk", {"--read-only", "/" + web.substr(0, web.size() - 1)}),
        faulty("LogFileCannotBeCreatedSoTheFirstLineMakesIt",
               {"--fail", "open:EACCES@{open ProgramFiles/Settings/Logs/Zephyrdesk-Install.log}"}),
        faulty("LogFolderCannotBeMadeSoLinesGoToTheConsoleOnly", {"--fail", "mkdir:EROFS@{mkdir ProgramFiles/Settings/}"}),
        faulty("ReadOnlySettingsFolder", {"--read-only", "/ProgramFiles/Settings"}),
        faulty("TwoFaultsAtOnce", {"--fail", "write:EIO@{write " + fonts + "DejaVu-copyright.txt}", "--fail",
                                   "utime:EPERM@{utime ProgramFiles/Zephyrdesk.tap}"}),
        faulty("HeapWithoutBlocks", {"--heap-blocks", "0"}, false, End::NoInstance),
        faulty("HeapTooSmallForTheSectionTable", {"--heap-blocks", "2"}, false, End::NoInstance),
        faulty("HeapJustLargeEnough", {"--heap-blocks", "3"}),
    };
}

// What one boot must leave, worked out from the disk before it.
struct Expected;
// The installation log of one boot: every line reaches the console; the file
// keeps what the disk lets through.
struct LogModel {
    Expected &e;
    std::string rel;
    void push_back(const std::string &text);
};

struct Expected {
    std::vector<std::string> loaded;  // firmware paths in slot order, the installer last
    std::vector<std::string> log;
    Tree tree;
    std::vector<int> bars;  // the bar's width on each install page drawn
    std::vector<std::string> stopMarks;
    std::vector<int> stopped;  // slots of the product TAPs stopped
    std::string logFile;       // the bytes the log file gains (lines the full disk cut or dropped)
    FaultModel faults;
};

void LogModel::push_back(const std::string &text) {
    e.log.push_back(text);
    e.faults.marks.push_back({"line " + text, {0, e.faults.written}});
    if (!e.tree.count("ProgramFiles/Settings/Logs/") || e.faults.call("open", rel, true, true, e.tree)) return;
    for (const std::string &piece : {kTime + " ", text, std::string("\r\n")}) {
        int error;
        e.logFile += piece.substr(0, (size_t)std::max(0LL, e.faults.write(rel, (long long)piece.size(), &error)));
    }
    e.faults.call("utime", rel, true, false, e.tree);
}

class Installation : public ::testing::TestWithParam<std::tuple<Scenario, bool>> {
protected:
    void SetUp() override {
        sandbox = std::get<1>(GetParam());
        std::string why;
        if (sandbox && !sandboxWorks(&why)) GTEST_SKIP() << why;
        dir = payloadtest::scratchFolder();
        disk = dir + "/disk";
        payload = payloadOf(INSTALLER_TAP, dir);
        ASSERT_FALSE(HasFailure());
        EXPECT_EQ(readLe(payloadtest::gzipCrc(dir + "/payload.tar", dir), 0, 4), payload.storedCrc)
            << ".PayloadCRC holds zlib's CRC-32 of .Payload";
    }
    const Scenario &scenario() const { return std::get<0>(GetParam()); }

    void prepareDisk() {
        const Scenario &s = scenario();
        makeDirs(disk + "/ProgramFiles");
        if (s.autoStartFolder) makeDirs(disk + "/ProgramFiles/AutoStart");
        if (s.earlier) {
            ASSERT_EQ(0, inFolder(dir, "tar -x --strip-components=2 -f payload.tar -C disk").status);
        }
        if (s.firmware) {
            std::string table = disk + "/ProgramFiles/FirmwareTMS.dat";
            writeFile(table, "a firmware table the receiver got elsewhere\n");
            long long archive = 0;
            for (const Member &m : payload.members)
                if (flagsOf(m.name) & 1) archive = m.mtime;
            struct utimbuf t = {(time_t)(archive + s.firmwareAge), (time_t)(archive + s.firmwareAge)};
            ASSERT_EQ(0, utime(table.c_str(), &t));
        }
        std::string installer = damaged(INSTALLER_TAP, s.damage, dir);
        writeFile(disk + kInstaller, installer);
        ElfView v = payloadtest::readelf(disk + kInstaller, dir);
        if (s.damage == Damage::Unnamed) {
            EXPECT_EQ(nullptr, v.find(".Payload"));
            EXPECT_NE(nullptr, v.find(".PayloadCRC"));
        } else if (s.damage != Damage::FileCut) {
            ASSERT_NE(nullptr, v.find(".Payload"));
            EXPECT_EQ(payload.section.offset, v.find(".Payload")->offset);
            EXPECT_EQ(payload.section.size, v.find(".Payload")->size) << "the section table still tells the whole size";
        }
        for (const Boot &b : s.boots)
            for (const std::string &tap : b.before)
                if (!fileExists(disk + tap)) writeFile(disk + tap, readFile(TEST_TAP_DIR + tap.substr(13)));
    }

    Expected expect(const Boot &boot, const Tree &before, const std::vector<std::string> &faultOptions) {
        Expected e;
        e.faults = FaultModel(faultOptions);
        FaultModel &faults = e.faults;
        if (boot.autostart)
            for (const auto &n : before)
                if (n.first.rfind("ProgramFiles/AutoStart/", 0) == 0 && n.first.size() > 27 &&
                    n.first.compare(n.first.size() - 4, 4, ".tap") == 0)
                    e.loaded.push_back("/" + n.first);
        e.loaded.insert(e.loaded.end(), boot.before.begin(), boot.before.end());
        e.loaded.push_back(kInstaller);
        int me = (int)e.loaded.size() - 1;
        e.tree = before;
        if (boot.end == End::Refused) return e;
        const std::string logRel = kLog.substr(1);
        // a log folder that cannot be made leaves the rest undone (nothing in its place)
        bool logFolder = true;
        for (const char *folder : {"ProgramFiles/Settings/", "ProgramFiles/Settings/Logs/"})
            if (logFolder && !e.tree.count(folder)) {
                logFolder = faults.call("mkdir", folder, true, true, e.tree) == 0;
                if (logFolder) e.tree[folder] = {'d', "", -1};
            }
        if (logFolder && !fileExists(disk + kLog)) faults.call("open", logRel, true, true, e.tree);
        if (std::count(e.loaded.begin(), e.loaded.end(), kRemover)) e.tree.erase(kInstaller.substr(1));

        LogModel log{e, logRel};
        log.push_back("Starting installation.");
        log.push_back("Performing pre-installation checks.");
        // a look-up by TAP ID reads the slots' files up to the one that carries it
        auto lookUp = [&](dword id) {
            for (int slot = 0; slot <= me; slot++) {
                faults.call("open", e.loaded[slot].substr(1), false, false, e.tree);
                if (tapId(e.loaded[slot]) == id) return slot;
            }
            return -1;
        };
        auto stop = [&](dword id) {
            int slot = lookUp(id);
            if (slot < 0) return;
            log.push_back("TAPID 0x" + hex8(id) + " running in slot " + std::to_string(slot) + " from '/mnt/hd" +
                          e.loaded[slot] + "'.");
            log.push_back("Terminating TAP.");
            lookUp(id), lookUp(id);  // the stop event goes by ID, looked up twice
            e.stopped.push_back(slot);
            e.stopMarks.push_back("TAP_Exit");
        };
        stop(kMainId);
        e.stopMarks.push_back("the AutoStart test");
        stop(kConfigId);
        std::sort(e.stopped.begin(), e.stopped.end());
        log.push_back("Pre-installation checks complete.");
        e.bars = {0};
        if (boot.end == End::NoInstance || boot.end == End::NoName) e.stopMarks.push_back("TAP_Exit");
        if (boot.end != End::NoInstance) lookUp(kInstallerId);
        if (boot.end == End::NoInstance) {
            log.push_back("Failed to find my own TAP instance.  How messed up is that?");
            return e;
        }
        log.push_back("I found myself at index " + std::to_string(me) + ".");
        if (boot.end == End::NoName) {
            log.push_back("Failed to find my own TAP name.  Pretty messed up!");
            return e;
        }
        const std::string self = "/mnt/hd" + kInstaller;
        const bool found = boot.end != End::NoSection;  // else 0 and 0, which the mapping refuses
        const unsigned long long offset = found ? payload.section.offset : 0, size = found ? payload.section.size : 0;
        log.push_back("My file name is '" + self + "'.");
        faults.call("open", kInstaller.substr(1), false, false, e.tree);  // the section table
        log.push_back("Installing from '" + self + "'.");
        log.push_back("Payload offset: " + std::to_string(offset) + ", payload size: " + std::to_string(size) + ".");
        std::string installed = readFile(disk + kInstaller);
        faults.call("open", kInstaller.substr(1), false, false, e.tree);  // the archive's
        int mapping = boot.end == End::PayloadIncomplete ? 0 : faults.call("mmap", kInstaller.substr(1), false, false, e.tree);
        if (!found && !mapping) mapping = EINVAL;  // 0 bytes at 0
        if (boot.end == End::BadChecksum) {
            writeFile(dir + "/damaged.tar", installed.substr(offset, size));
            dword crc = (dword)readLe(payloadtest::gzipCrc(dir + "/damaged.tar", dir), 0, 4);
            log.push_back("Error: TAP file damaged, payload checksum " + hex8(crc) + " instead of " +
                          hex8(payload.storedCrc) + ". Nothing installed.");
        } else if (mapping) {
            log.push_back("Error creating mmap(). errno = " + std::to_string(mapping) + ",");
        } else if (boot.end == End::PayloadIncomplete) {
            log.push_back("Error: TAP file damaged, payload incomplete (" + std::to_string(installed.size() - offset) +
                          " of " + std::to_string(size) + " bytes). Nothing installed.");
        } else {
            extraction(e, log);
        }
        e.bars.insert(e.bars.end(), {356, 356});

        log.push_back("Performing post-installation actions.");
        bool wasInAutoStart = before.count("ProgramFiles/AutoStart/Zephyrdesk.tap") != 0;
        if (wasInAutoStart || boot.target == kToAutoStart) {
            log.push_back(boot.target == kToAutoStart ? "Copying Zephyrdesk into AutoStart by user request."
                                                      : "Copying Zephyrdesk into AutoStart because it was already there.");
            auto source = e.tree.find("ProgramFiles/Zephyrdesk.tap");
            bool copies = before.count("ProgramFiles/AutoStart/") && source != e.tree.end();
            if (int error = faults.call("system", "", false, false, e.tree)) {  // no shell started
                log.push_back("Return code = -1, errno = " + std::to_string(error) + ".");
            } else {
                if (copies) e.tree["ProgramFiles/AutoStart/Zephyrdesk.tap"] = {'f', source->second.bytes, -1};
                log.push_back(std::string("Return code = ") + (copies ? "0" : "256") + ", errno = 0.");  // cp's status 1
            }
        }
        log.push_back("Post-installation actions complete.");
        log.push_back("Installation complete.");
        return e;
    }

    // The extraction's lines, bars and files, entry by entry.
    void extraction(Expected &e, LogModel &log) {
        FaultModel &faults = e.faults;
        auto line = [&](const std::string &text) { log.push_back(text); };
        auto processing = [&](const std::string &name, int flags, char type) {
            line("Processing file: '" + name.substr(0, 100) + "', flags: " + std::to_string(flags) + ", type: '" +
                 type + "'.");
        };
        for (const Member &m : payload.members) {
            if (m.name.size() > 100) {
                processing("././@LongLink", 0, 'L');
                line("     Saved name: '" + m.name + "', for the next file.");
            }
            int flags = flagsOf(m.name);
            processing(m.name, flags, m.type);
            std::string rel = onDisk(m.name), path = "/" + m.name;
            if (flags & 1) {
                struct stat64 st;
                bool found = !faults.call("stat64", rel, false, false, e.tree) && stat64((disk + "/" + rel).c_str(), &st) == 0;
                line("  TAR time " + std::to_string(m.mtime) + ", HDD atime: " + std::to_string(found ? st.st_atime : 0) +
                     ", mtime: " + std::to_string(found ? st.st_mtime : 0) +
                     ", ctime " + std::to_string(found ? st.st_ctime : 0) + ".");
                if (found && m.mtime < (long long)st.st_mtime) {
                    line("  TAR file older, not copying.");
                    continue;
                }
            }
            bool onTheDisk = m.name != "mnt/";  // the receiver's /mnt is the firmware's own
            auto setTime = [&](const char *failure) {
                int error = onTheDisk ? faults.call("utime", rel, true, false, e.tree) : 0;
                if (error) line(failure + std::to_string(error) + ".");
                return error == 0;
            };
            std::string parent = rel.empty() ? "" : rel.substr(0, rel.rfind('/', rel.size() - 2) + 1);
            bool parentThere = parent.empty() || e.tree.count(parent);
            if (m.type == '0') {
                long long size = (long long)m.bytes.size();
                line("  Creating file: '" + path + "', " + std::to_string(size) + " bytes.");
                int error = faults.call("open", rel, true, true, e.tree);
                if (!error && !parentThere) error = ENOENT;
                if (error) {
                    line("  ** Error creating file, errno " + std::to_string(error) + ".");
                    continue;
                }
                long long written = faults.write(rel, size, &error);
                e.tree[rel] = {'f', m.bytes.substr(0, (size_t)std::max(0LL, written)), -1};
                if (written < size)
                    line("  ** Error writing file contents: " + std::to_string(written) + " of " + std::to_string(size) +
                         " written, errno " + std::to_string(error) + ".");
                else if (setTime("  ** Error setting file time. errno = "))
                    e.tree[rel].mtime = m.mtime;
                continue;
            }
            line("  Creating directory: '" + path + "'.");
            bool there = rel.empty() || e.tree.count(rel);  // the log's folders exist already
            int error = onTheDisk ? faults.call("mkdir", rel, true, true, e.tree) : 0;
            if (!error && !there && !parentThere) error = ENOENT;
            if (!error && there) error = EEXIST;
            line("  Directory created with result " + std::string(error ? "-1" : "0") + ", errno = " +
                 std::to_string(error) + ".");
            if (!rel.empty() && !error) e.tree[rel] = {'d', "", -1};
            if (error && error != EEXIST)
                line("  ** Big booboo occurred, errno " + std::to_string(error) + ".");
            else
                setTime("  ** Error setting dir time. errno = ");
        }
        for (dword at : payload.headers) e.bars.push_back((int)((unsigned long long)at * 356 / payload.tar.size()));
        e.bars.push_back(356);
    }

    void boot(const Boot &b, int number) {
        SCOPED_TRACE("boot " + std::to_string(number));
        Tree before = snapshot(disk);
        std::vector<std::string> faults = expect(b, before, {}).faults.resolve(scenario().faults);
        Expected e = expect(b, before, faults);
        std::string logBefore = readFile(disk + kLog), out = dir + "/out" + std::to_string(number);
        std::string keys = b.target == kToAutoStart ? "OK BACK BACK OK OK" : "OK BACK OK OK";
        std::vector<std::string> args = {"--disk", disk, "--out", out, "--time", kTime, "--no-pictures", "--keys", keys};
        if (b.autostart) args.push_back("--autostart");
        if (!sandbox) args.push_back("--no-sandbox");
        args.insert(args.end(), faults.begin(), faults.end());
        Tree outside = elsewhere();
        args.insert(args.end(), b.before.begin(), b.before.end());
        args.push_back(kInstaller);
        TapemuResult r = runTapemu(dir, args);
        std::vector<std::string> trace = lines(readFile(out + "/trace.txt"));
        std::vector<std::string> said;
        for (const std::string &line : lines(r.err))
            if (line.rfind("tapemu: ", 0) == 0 && line.rfind("tapemu: warning: ", 0) != 0) said.push_back(line);
        expectTree(e.tree, snapshot(disk), "the disk");
        expectTree(outside, elsewhere(), "the scratch folder beside the disk");
        checkLog(logBefore, e.logFile);

        std::vector<std::string> loads;
        for (const std::string &line : trace)
            if (line.rfind("LOAD ", 0) == 0) loads.push_back(line);
        std::vector<std::string> expectedLoads;
        for (size_t slot = 0; slot < e.loaded.size(); slot++)
            expectedLoads.push_back("LOAD " + std::to_string(slot) + " \"" + e.loaded[slot] + "\" id 0x" +
                                    hex8(tapId(e.loaded[slot])));
        if (b.end == End::Refused) {
            EXPECT_EQ(1, r.status);
            EXPECT_EQ(std::vector<std::string>{"tapemu: " + kInstaller + ": no readable section table"}, said) << r.err;
            expectedLoads.pop_back();
            EXPECT_EQ(expectedLoads, loads);
            return;
        }
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(std::vector<std::string>{}, said);
        EXPECT_EQ(expectedLoads, loads);
        checkTrace(trace, b, e);
        std::string console = readFile(out + "/console.bin");
        checkConsole(console, e.log, e.faults.heapBlocks != 0);
        if (e.faults.heapBlocks < 0) {  // the heap's refusals are not counted here
            EXPECT_EQ(e.faults.strikes, std::count_if(trace.begin(), trace.end(), [](const std::string &line) {
                          return line.rfind("FAULT ", 0) == 0;
                      })) << "faults that struck";
        }
        for (const std::string &tap : e.loaded)
            if (tapId(tap) == kMainId) {
                EXPECT_NE(std::string::npos, console.find("Zephyrdesk 2.20 started\n")) << "the main TAP ran";
            }
    }

    // What the folder holding the disk has beside the disk and the outputs.
    // (The disk is not read: that would change its files' access times.)
    Tree elsewhere() {
        Tree t;
        DIR *d = opendir(dir.c_str());
        while (dirent64 *e = d ? readdir64(d) : nullptr) {
            std::string name = e->d_name;
            if (name == "." || name == ".." || name == "disk" || name.rfind("out", 0) == 0 || name.rfind("std", 0) == 0)
                continue;
            struct stat64 st;
            if (lstat64((dir + "/" + name).c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                t[name + "/"] = {'d', "", -1};
                walk(dir, name + "/", t);
            } else {
                t[name] = {'f', readFile(dir + "/" + name), (long long)st.st_mtime};
            }
        }
        if (d) closedir(d);
        return t;
    }

    // The bytes the boot appended to the log, compared line by line (each
    // with the receiver's time and CR LF, the last one perhaps cut short).
    void checkLog(const std::string &before, const std::string &expected) {
        std::string text = readFile(disk + kLog);
        ASSERT_EQ(0u, text.compare(0, before.size(), before)) << "earlier lines stay as they were";
        auto split = [](const std::string &bytes) {
            std::vector<std::string> lines;
            for (size_t at = 0; at < bytes.size();) {
                size_t end = std::min(bytes.find("\r\n", at), bytes.size());
                lines.push_back(bytes.substr(at, end - at) + (end < bytes.size() ? "" : " (cut short)"));
                at = end + 2;
            }
            return lines;
        };
        std::vector<std::string> want = split(expected), got = split(text.substr(before.size()));
        for (size_t i = 0; i < std::max(got.size(), want.size()); i++)
            ASSERT_EQ(i < want.size() ? want[i] : "(no line)", i < got.size() ? got[i] : "(no line)")
                << "log line " << i + 1 << " of this boot";
    }

    // Every line on the console, in order, as the log writer echoes it: the
    // program's name, then the text, then the line feed, each piece ending
    // with a zero byte (the text left out when the heap has no room for it).
    void checkConsole(const std::string &console, const std::vector<std::string> &lines, bool withText) {
        std::string z(1, '\0');
        size_t at = 0;
        for (const std::string &line : lines) {
            std::string echo = "Zephyrdesk-Install: " + z + (withText ? line + z : "") + "\n" + z;
            size_t found = console.find(echo, at);
            ASSERT_NE(std::string::npos, found) << "the console after byte " << at << " lacks: " << line;
            at = found + echo.size();
        }
    }

    void checkTrace(const std::vector<std::string> &trace, const Boot &b, const Expected &e) {
        int me = (int)e.loaded.size() - 1;
        std::string mine = "EVENT " + std::to_string(me) + " 0x100 ";
        std::vector<size_t> keyEvents;
        for (size_t i = 0; i < trace.size(); i++)
            if (trace[i].rfind(mine, 0) == 0) keyEvents.push_back(i);
        size_t confirm = b.target == kToAutoStart ? 3 : 2;
        bool early = b.end == End::NoInstance || b.end == End::NoName;
        ASSERT_EQ(early ? confirm + 1 : confirm + 2, keyEvents.size()) << "keys the installer got";

        // the confirming key: the run, then the stopped TAPs end (and the installer, when it cannot find itself)
        std::vector<std::string> ends, want;
        for (int slot : e.stopped) want.push_back("END " + std::to_string(slot) + " ended by TAP_Exit");
        if (early) want.push_back("END " + std::to_string(me) + " ended by TAP_Exit");
        for (size_t i = keyEvents[confirm] + 1; i < trace.size() && trace[i].rfind("END ", 0) == 0; i++)
            ends.push_back(trace[i]);
        EXPECT_EQ(want, ends);
        std::vector<std::string> run(trace.begin() + keyEvents[confirm - 1] + 1, trace.begin() + keyEvents[confirm]);
        std::vector<std::string> marks;
        for (const std::string &line : run) {
            if (line.rfind("TAP_Exit ", 0) == 0) marks.push_back("TAP_Exit");
            if (line.rfind("TAP_Hdd_ChangeDir \"/ProgramFiles/AutoStart\" ", 0) == 0) marks.push_back("the AutoStart test");
        }
        EXPECT_EQ(e.stopMarks, marks) << "the main TAP stops before the AutoStart test, the configuration TAP after it";

        // the install pages: the bar on each, the last one finished with its Exit button
        std::vector<std::vector<std::string>> pages(1);
        for (const std::string &call : osdCalls(tracedCalls(run))) {
            pages.back().push_back(call);
            if (call == "TAP_Osd_Sync") pages.emplace_back();
        }
        std::vector<int> bars;
        std::vector<std::string> last;
        std::string region;
        for (const std::vector<std::string> &page : pages) {
            int bar = -1;
            for (const std::string &call : page) {
                TracedCall c = parseTracedCall(call);
                if (c.name == "TAP_Osd_DrawRectangle" && c.args.size() > 2 && c.args[1] == "178" && c.args[2] == "270")
                    bar = 0, region = c.args[0];
                if (bar >= 0 && c.name == "TAP_Osd_FillBox" && c.args.size() > 3 && c.args[1] == "182" &&
                    c.args[2] == "275")
                    bar = atoi(c.args[3].c_str());
            }
            if (bar >= 0) bars.push_back(bar), last = page;
        }
        EXPECT_EQ(e.bars, bars) << "one page per header block of the archive, then the full bar";
        std::string summary = "SLOT " + std::to_string(me) + " \"" + kInstaller + "\" id 0x" + hex8(kInstallerId) +
                              " heap 0 dirstack -1 ended by TAP_Exit";
        auto slotLine = std::find_if(trace.begin(), trace.end(), [&](const std::string &line) {
            return line.rfind("SLOT " + std::to_string(me) + " ", 0) == 0;
        });
        EXPECT_EQ(summary, slotLine == trace.end() ? "(none)" : *slotLine) << "it gave back what it took";
        if (early) return;
        EXPECT_EQ(installPage(atoi(region.c_str()), 0, 356, true), last) << "the finished screen";

        // keys act again: OK on the finished screen ends the installer
        EXPECT_EQ(mine + "0x1001E 0x0 -> 0x0", trace[keyEvents.back()]);
        ASSERT_LT(keyEvents.back() + 1, trace.size());
        EXPECT_EQ("END " + std::to_string(me) + " ended by TAP_Exit", trace[keyEvents.back() + 1]);
    }

    bool sandbox = true;
    std::string dir, disk;
    Payload payload;
};

TEST_P(Installation, LeavesDiskLogAndTraceAsTheUserExpects) {
    prepareDisk();
    ASSERT_FALSE(HasFatalFailure());
    for (size_t i = 0; i < scenario().boots.size(); i++) {
        boot(scenario().boots[i], (int)i + 1);
        if (HasFatalFailure()) return;
    }
}

std::string scenarioName(const ::testing::TestParamInfo<std::tuple<Scenario, bool>> &info) {
    return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "_Sandbox" : "_NoSandbox");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Installation, ::testing::Combine(::testing::ValuesIn(scenarios()), ::testing::Bool()),
                         scenarioName);
INSTANTIATE_TEST_SUITE_P(Faults, Installation, ::testing::Combine(::testing::ValuesIn(faultScenarios()), ::testing::Bool()),
                         scenarioName);

}  // namespace
