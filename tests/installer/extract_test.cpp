// The extractor on a real disk folder: archives made by GNU tar, the TAP
// file holding one at a page boundary, and deliverPayload writing it under
// "/" while the stand-in firmware runs.  Expected values come from GNU
// tar (its own extraction and its block listing), gzip (CRC-32) and the
// archives' bytes.  GNU tar and gzip run before the receiver starts.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <map>
#include <sstream>

#include "emutest.h"
#include "installer_screens.h"

#include "Zephyrdesk-Install.h"
#include "velalib.h"

namespace {

const std::string P = "mnt/hd/ProgramFiles";
const char *const kLog = "/ProgramFiles/Settings/Logs/Zephyrdesk-Install.log";
const char *const kTap = "/ProgramFiles/Payload.tap";
char tapName[] = "/mnt/hd/ProgramFiles/Payload.tap";
const int kOffset = 8192; // where the archive lies in the test TAP file
const long kTime = 1400000000; // 2014-05-13, the archives' times start here

// ---- Archives from GNU tar --------------------------------------------

// One entry to archive: type '0' file, '5' directory, '2' symbolic link
// (data is then the target).
struct Entry {
    std::string name;
    char type;
    std::string data;
    long mtime;
};

struct Member {
    long block;        // GNU tar's block number of its first header
    std::string name;  // as stored
};

struct Archive {
    std::string bytes;
    std::vector<Member> members;
    long endBlock = 0; // the first block of the end-of-archive marker
};

std::string shellWord(const std::string &s) { return "'" + s + "'"; }

void run(const std::string &command) { ASSERT_EQ(0, system(command.c_str())) << command; }

// Builds the entries under dir/src and archives them, in order, with GNU
// tar in its GNU format; tarOptions go on tar's command line.
Archive gnuTar(const std::string &dir, const std::vector<Entry> &entries, const std::string &tarOptions = "") {
    std::string src = dir + "/src", list;
    makeDirs(src);
    for (const Entry &e : entries) {
        std::string path = src + "/" + e.name;
        if (e.type == '5') makeDirs(path);
        if (e.type != '5') makeDirs(path.substr(0, path.rfind('/')));
        if (e.type == '0') writeFile(path, e.data);
        if (e.type == '2' && symlink(e.data.c_str(), path.c_str()) != 0) ADD_FAILURE() << path;
        list += e.name + '\0';
    }
    for (size_t i = entries.size(); i-- > 0;) {  // a folder's time after its contents
        struct utimbuf t = {(time_t)entries[i].mtime, (time_t)entries[i].mtime};
        if (entries[i].type != '2') utime((src + "/" + entries[i].name).c_str(), &t);
    }
    writeFile(dir + "/list", list);
    std::string tar = dir + "/archive.tar";
    run("tar --format=gnu --owner=0 --group=0 --numeric-owner --no-recursion " + tarOptions + " -C " + shellWord(src) +
        " --null -T " + shellWord(dir + "/list") + " -cf " + shellWord(tar));
    run("tar -tR -f " + shellWord(tar) + " > " + shellWord(dir + "/blocks") + " 2>/dev/null");
    Archive a;
    a.bytes = readFile(tar);
    std::istringstream in(readFile(dir + "/blocks"));
    std::string line;
    while (std::getline(in, line)) {
        long block = atol(line.c_str() + 6);
        std::string name = line.substr(line.find(": ") + 2);
        if (name == "** Block of NULs **") a.endBlock = block;
        else a.members.push_back({block, name});
    }
    return a;
}

// The offsets of every header block of an archive as GNU tar lists it: a
// long name takes a header and its name blocks before the member's own
// header, and every block of the end marker and padding is one more.
std::vector<dword> headerOffsets(const Archive &a) {
    std::vector<dword> offsets;
    for (const Member &m : a.members) {
        offsets.push_back(m.block * 512);
        if (m.name.size() > 100) offsets.push_back((m.block + 1 + (m.name.size() + 512) / 512) * 512);
    }
    for (size_t at = a.endBlock * 512; at < a.bytes.size(); at += 512) offsets.push_back(at);
    return offsets;
}

// zlib's CRC-32 of a file's bytes, from the trailer that gzip writes.
dword gzipCRC(const std::string &path) {
    run("gzip -n -c " + shellWord(path) + " > " + shellWord(path + ".gz"));
    std::string gz = readFile(path + ".gz");
    dword crc = 0;
    for (int i = 0; i < 4 && gz.size() >= 8; i++) crc |= (dword)(unsigned char)gz[gz.size() - 8 + i] << (8 * i);
    return crc;
}

// A header with its checksum made again, as tar computes it.
void fixChecksum(std::string &bytes, size_t header) {
    memset(&bytes[header + 148], ' ', 8);
    unsigned sum = 0;
    for (size_t i = 0; i < 512; i++) sum += (unsigned char)bytes[header + i];
    snprintf(&bytes[header + 148], 8, "%06o", sum);
}

std::string repeat(char c, size_t n) { return std::string(n, c); }

// A name of length characters below P, in folders of 200 characters (the
// disk's names stop at 255).
std::string longName(size_t length) {
    std::string name = P + "/" + repeat('b', 200) + "/" + repeat('c', 200) + "/";
    return name + repeat('d', length - name.size());
}

std::string randomBytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (char &c : s) c = (char)((seed = seed * 1103515245u + 12345u) >> 16);
    return s;
}

std::string tapFile(const std::string &archive) { return std::string(kOffset, '\x5A') + archive; }

// ---- The disk, the log and the trace ----------------------------------

struct FileState {
    bool exists = false;
    std::string bytes;
    long long size = 0, mtime = 0, inode = 0;
    unsigned mode = 0;
};

FileState fileState(const std::string &path) {
    FileState f;
    struct stat64 st;
    if (lstat64(path.c_str(), &st) != 0) return f;
    f.exists = true, f.size = st.st_size, f.mtime = st.st_mtime, f.inode = st.st_ino, f.mode = st.st_mode;
    if (S_ISREG(st.st_mode)) f.bytes = readFile(path);
    return f;
}

// Every path below root (relative, folders with a trailing "/") with its
// type and size; skip leaves one subtree out.  (readdir64: the receiver
// build reads 64-bit inode numbers too.)
void listTree(const std::string &root, const std::string &rel, const std::string &skip,
              std::map<std::string, std::string> &out) {
    DIR *d = opendir((root + rel).c_str());
    if (!d) {
        ADD_FAILURE() << "cannot list " << root + rel;
        return;
    }
    for (;;) {
        errno = 0;
        dirent64 *e = readdir64(d);
        if (!e) {
            if (errno != 0) ADD_FAILURE() << "cannot list " << root + rel << ": errno " << errno;
            break;
        }
        std::string name = e->d_name;
        if (name == "." || name == ".." || rel + name == skip) continue;
        FileState f = fileState(root + rel + name);
        bool dir = S_ISDIR(f.mode);
        out[rel + name + (dir ? "/" : "")] = std::to_string(f.mode >> 12) + " " + std::to_string(dir ? 0 : f.size);
        if (dir) listTree(root, rel + name + "/", skip, out);
    }
    closedir(d);
}

// Whether this process holds the file open or mapped.
bool inUse(const std::string &path) {
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real)) return false;
    std::istringstream maps(readFile("/proc/self/maps"));
    for (std::string line; std::getline(maps, line);)
        if (line.size() >= strlen(real) && line.compare(line.size() - strlen(real), std::string::npos, real) == 0)
            return true;
    DIR *d = opendir("/proc/self/fd");
    bool found = false;
    while (dirent64 *e = d ? readdir64(d) : nullptr) {
        char link[PATH_MAX];
        ssize_t n = readlink(("/proc/self/fd/" + std::string(e->d_name)).c_str(), link, sizeof link - 1);
        if (n > 0 && std::string(link, n) == real) found = true;
    }
    if (d) closedir(d);
    return found;
}

// What one call of deliverPayload did.
struct Outcome {
    std::vector<std::string> log;  // its lines, without time stamps
    std::vector<int> bars;         // the bar's width on every page drawn
    size_t allocs = 0, frees = 0;  // firmware heap blocks
    int stackBefore = 0, stackAfter = 0;
    bool tapInUse = false;         // TAP file still open or mapped afterwards
};

class Extract : public EmuTest {
protected:
    void configure(EmuOptions &o) override { o.traceAll = 1; }
    void SetUp() override {
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char &c : name)
            if (c == '/') c = '_';
        work = std::string(TEST_SCRATCH_DIR) + "/" + name + ".work";
        removeTree(work);
        makeDirs(work);
        prepare();
        if (HasFatalFailure()) return;
        EmuTest::SetUp();
        if (HasFatalFailure()) return;
        createLogFile();
        gMyTAPFileName = tapName;
    }
    // Runs the host tools, while no receiver runs.
    virtual void prepare() = 0;

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        std::string text = readFile(disk(kLog));
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(text.substr(at + 20, end - at - 20)); // after "2016-02-29 13:05:09 "
        return lines;
    }
    // The disk below /mnt/hd, the installation log and the TAP file left out.
    std::map<std::string, std::string> diskTree() const {
        std::map<std::string, std::string> t;
        listTree(diskDir + "/", "", "ProgramFiles/Settings", t);
        t.erase("ProgramFiles/Payload.tap");
        return t;
    }

    Outcome deliver(const std::string &tapBytes, int offset, dword size) {
        if (!tapBytes.empty()) writeFile(disk(kTap), tapBytes);
        Outcome o;
        size_t traceFrom0 = trace().size(), logFrom = logLines().size();
        o.stackBefore = TAPDirStackDepth;
        deliverPayload(offset, size);
        o.stackAfter = TAPDirStackDepth;
        std::vector<std::string> lines = logLines();
        o.log.assign(lines.begin() + logFrom, lines.end());
        int bar = 0;
        for (const TracedCall &c : tracedCalls(traceFrom(traceFrom0))) {
            if (c.name == "TAP_Osd_FillBox" && c.args.size() == 6 && c.args[1] == "182" && c.args[2] == "275")
                bar = atoi(c.args[3].c_str());
            if (c.name == "TAP_Osd_Sync") o.bars.push_back(bar), bar = 0;
            if (c.name == "TAP_MemAlloc" && c.result == "1") o.allocs++;
            if (c.name == "TAP_MemFree" && c.result == "1") o.frees++;
        }
        o.tapInUse = inUse(disk(kTap));
        return o;
    }
    Outcome deliver(const Archive &a) { return deliver(tapFile(a.bytes), kOffset, a.bytes.size()); }

    std::string work;
};

// The bar widths that the install screen shows for headers at these offsets,
// then the full bar.
std::vector<int> expectedBars(const std::vector<dword> &offsets, dword size) {
    std::vector<int> bars;
    for (dword at : offsets) bars.push_back((int)((unsigned long long)at * 356 / size));
    bars.push_back(356);
    return bars;
}

std::string processing(const std::string &name, int flags, char type) {
    return "Processing file: '" + name.substr(0, 100) + "', flags: " + std::to_string(flags) + ", type: '" + type +
           "'.";
}

std::string damagedLine(dword offset, const std::string &reason) {
    return "  ** Damaged archive at offset " + std::to_string(offset) + ": " + reason + ". Extraction stopped.";
}

// ---- Against GNU tar: a tree with every kind of entry and name ---------

const std::string kWeb = P + "/web";
const std::string kDeep = kWeb + "/" + repeat('d', 60) + "/" + repeat('e', 200);

std::vector<Entry> treeEntries() {
    std::vector<Entry> e = {
        {P, '5', "", kTime},
        {kWeb, '5', "", kTime + 100},
        {kWeb + "/empty", '5', "", kTime + 200},
        {kWeb + "/size0.txt", '0', "", kTime + 300},
        {kWeb + "/size1.txt", '0', "x", kTime + 400},
        {kWeb + "/size511.bin", '0', randomBytes(511, 1), kTime + 500},
        {kWeb + "/size512.bin", '0', randomBytes(512, 2), kTime + 600},
        {kWeb + "/size513.bin", '0', randomBytes(513, 3), kTime + 700},
        {kWeb + "/size20000.bin", '0', randomBytes(20000, 4), kTime + 800},
        {kWeb + "/" + repeat('f', 100 - kWeb.size() - 1), '0', "field full", kTime + 900},
        {kWeb + "/" + repeat('g', 101 - kWeb.size() - 1), '0', "one more", kTime + 1000},
        {kWeb + "/link", '2', "size1.txt", kTime + 1100},
        {kWeb + "/" + repeat('d', 60), '5', "", kTime + 1200},
        {kDeep, '5', "", kTime + 1300},
        {kDeep + "/" + repeat('h', 510 - kDeep.size() - 1), '0', randomBytes(3000, 5), kTime + 1400},
        {kWeb + "/after-link.txt", '0', "last", 0x7FFFFFFF},
    };
    return e;
}

class ExtractTree : public Extract {
protected:
    void prepare() override {
        archive = gnuTar(work, treeEntries());
        makeDirs(work + "/ref");
        run("tar -x -f " + shellWord(work + "/archive.tar") + " -C " + shellWord(work + "/ref"));
    }
    Archive archive;
};

TEST_F(ExtractTree, WritesWhatGnuTarWritesAndLogsEveryHeader) {
    time_t before = time(nullptr);
    Outcome o = deliver(archive);
    std::string ref = work + "/ref/";
    for (const Entry &e : treeEntries()) {
        FileState got = fileState(diskDir + e.name.substr(6)), want = fileState(ref + e.name);
        ASSERT_TRUE(want.exists) << e.name;
        if (e.type == '2') {
            EXPECT_FALSE(got.exists) << "a symbolic link creates nothing: " << e.name;
            continue;
        }
        ASSERT_TRUE(got.exists) << e.name;
        EXPECT_EQ(want.mode >> 12, got.mode >> 12) << e.name;
        if (e.type == '0') {
            EXPECT_EQ(want.size, got.size) << e.name;
            EXPECT_TRUE(want.bytes == got.bytes) << e.name;
            EXPECT_EQ(want.mtime, got.mtime) << e.name;
        } else if (e.name == kWeb + "/empty") {
            EXPECT_EQ(want.mtime, got.mtime) << "nothing lands in it after its time is set";
        } else {
            EXPECT_GE(got.mtime, (long long)before - 2) << "its contents came after its time: " << e.name;
        }
    }
    std::map<std::string, std::string> refTree;
    listTree(ref + "mnt/hd/", "", "ProgramFiles/web/link", refTree);
    EXPECT_EQ(refTree, diskTree()) << "nothing else is written";

    std::vector<std::string> headers;
    for (const std::string &line : o.log)
        if (line.compare(0, 16, "Processing file:") == 0) headers.push_back(line);
    std::vector<std::string> expected;
    for (const Entry &e : treeEntries()) {
        std::string stored = e.name + (e.type == '5' ? "/" : "");
        if (stored.size() > 100) expected.push_back(processing("././@LongLink", 0, 'L'));
        expected.push_back(processing(stored, 0, e.type));
    }
    EXPECT_EQ(expected, headers);
    for (const std::string &line : o.log) EXPECT_EQ(std::string::npos, line.find("**")) << line;

    EXPECT_EQ(expectedBars(headerOffsets(archive), archive.bytes.size()), o.bars)
        << "one progress call per header block, then the full bar";
    EXPECT_EQ(o.allocs, o.frees) << "firmware heap blocks";
    EXPECT_EQ(o.stackBefore, o.stackAfter) << "directory stack";
    EXPECT_FALSE(o.tapInUse) << "the TAP file is closed and unmapped";
}

// ---- Existing files, a missing folder, an empty block in between --------

class ExtractEdges : public Extract {
protected:
    void prepare() override {
        archive = gnuTar(work, {{P, '5', "", kTime},
                                {P + "/existing.txt", '0', "new", kTime + 1},
                                {P + "/Gone/lost.txt", '0', "lost", kTime + 2},
                                {P + "/after.txt", '0', "after the blank block", kTime + 3},
                                {P + "/old-style.txt", '0', "typeflag NUL", kTime + 4}});
        const Member &after = archive.members[3], &oldStyle = archive.members[4];
        archive.bytes[oldStyle.block * 512 + 156] = '\0';
        fixChecksum(archive.bytes, oldStyle.block * 512);
        archive.bytes.insert(after.block * 512, std::string(512, '\0'));
        archive.bytes.resize(archive.bytes.size() - 512); // the section keeps its size
    }
    Archive archive;
};

TEST_F(ExtractEdges, TruncatesInPlaceSurvivesAMissingFolderAndStepsOverEmptyBlocks) {
    writeFile(disk("/ProgramFiles/existing.txt"), "an older and much longer text");
    chmod(disk("/ProgramFiles/existing.txt").c_str(), 0600);
    FileState old = fileState(disk("/ProgramFiles/existing.txt"));
    Outcome o = deliver(archive);

    FileState now = fileState(disk("/ProgramFiles/existing.txt"));
    EXPECT_EQ("new", now.bytes);
    EXPECT_EQ(old.inode, now.inode) << "rewritten in place";
    EXPECT_EQ(0600u, now.mode & 0777) << "keeps its permission bits";
    EXPECT_EQ(kTime + 1, now.mtime);
    EXPECT_FALSE(fileExists(disk("/ProgramFiles/Gone")));
    std::vector<std::string> lost = {processing(P + "/Gone/lost.txt", 0, '0'),
                                     "  Creating file: '/" + P + "/Gone/lost.txt', 4 bytes.",
                                     "  ** Error creating file, errno 2."};
    auto at = std::search(o.log.begin(), o.log.end(), lost.begin(), lost.end());
    EXPECT_NE(o.log.end(), at) << "the missing folder is logged with ENOENT";
    EXPECT_EQ("after the blank block", readFile(disk("/ProgramFiles/after.txt")));
    EXPECT_EQ(kTime + 3, fileState(disk("/ProgramFiles/after.txt")).mtime);
    EXPECT_EQ("typeflag NUL", readFile(disk("/ProgramFiles/old-style.txt")));
    EXPECT_EQ(kTime + 4, fileState(disk("/ProgramFiles/old-style.txt")).mtime);
    size_t headers = 0;
    for (const std::string &line : o.log) headers += line.compare(0, 16, "Processing file:") == 0;
    EXPECT_EQ(5u, headers) << "the empty block has no line";
    EXPECT_EQ(archive.bytes.size() / 512 - 4 + 1, o.bars.size())
        << "four data blocks; every other block, the empty one included, moves the bar once, then the full bar";
}

// ---- The complete log of a small archive; cut files; the checksum -------

const std::string kLong = P + "/Zephyrdesk/public_html/" + repeat('p', 80) + ".html";

std::vector<Entry> smallEntries() {
    return {{P, '5', "", kTime},
            {P + "/FirmwareTMS.dat", '0', "firmware data", kTime + 60},
            {P + "/Zephyrdesk", '5', "", kTime + 120},
            {P + "/Zephyrdesk/public_html", '5', "", kTime + 180},
            {kLong, '0', "<html></html>", kTime + 240},
            {P + "/Zephyrdesk.tap", '0', "the main TAP", kTime + 300}};
}

class ExtractSmall : public Extract {
protected:
    void prepare() override {
        archive = gnuTar(work, smallEntries());
        crc = gzipCRC(work + "/archive.tar");
        flipped = archive.bytes;
        flipped[archive.members[1].block * 512 + 512] ^= 0x20; // "firmware data" becomes "Firmware data"
        writeFile(work + "/flipped.tar", flipped);
        flippedCRC = gzipCRC(work + "/flipped.tar");
    }
    Archive archive;
    std::string flipped;
    dword crc = 0, flippedCRC = 0;
};

TEST_F(ExtractSmall, LogsEveryStepInTheInstallersWords) {
    auto mtime = [](long offset) { return std::to_string(kTime + offset); };
    std::vector<std::string> expected = {
        processing(P + "/", 0, '5'),
        "  Creating directory: '/" + P + "/'.",
        "  Directory created with result -1, errno = 17.",
        processing(P + "/FirmwareTMS.dat", 1, '0'),
        "  TAR time " + mtime(60) + ", HDD atime: 0, mtime: 0, ctime 0.",
        "  Creating file: '/" + P + "/FirmwareTMS.dat', 13 bytes.",
        processing(P + "/Zephyrdesk/", 0, '5'),
        "  Creating directory: '/" + P + "/Zephyrdesk/'.",
        "  Directory created with result 0, errno = 0.",
        processing(P + "/Zephyrdesk/public_html/", 0, '5'),
        "  Creating directory: '/" + P + "/Zephyrdesk/public_html/'.",
        "  Directory created with result 0, errno = 0.",
        processing("././@LongLink", 0, 'L'),
        "     Saved name: '" + kLong + "', for the next file.",
        processing(kLong, 0, '0'),
        "  Creating file: '/" + kLong + "', 13 bytes.",
        processing(P + "/Zephyrdesk.tap", 4, '0'),
        "  Creating file: '/" + P + "/Zephyrdesk.tap', 12 bytes.",
    };
    Outcome o = deliver(archive);
    EXPECT_EQ(expected, o.log);
    EXPECT_EQ("<html></html>", readFile(disk("/" + kLong.substr(7))));
    EXPECT_EQ(kTime + 240, fileState(disk("/" + kLong.substr(7))).mtime);
    EXPECT_EQ(expectedBars(headerOffsets(archive), archive.bytes.size()), o.bars);
}

TEST_F(ExtractSmall, WritesNothingFromAFileThatEndsBeforeItsSection) {
    std::map<std::string, std::string> before = diskTree();
    std::string whole = tapFile(archive.bytes);
    std::vector<size_t> cuts = {4000}; // inside the code, before the section
    for (size_t at = kOffset; at < whole.size(); at += 512) cuts.push_back(at);
    for (size_t cut : cuts) {
        Outcome o = deliver(whole.substr(0, cut), kOffset, archive.bytes.size());
        size_t present = cut > (size_t)kOffset ? cut - kOffset : 0;
        std::vector<std::string> expected = {"Error: TAP file damaged, payload incomplete (" + std::to_string(present) +
                                             " of " + std::to_string(archive.bytes.size()) +
                                             " bytes). Nothing installed."};
        EXPECT_EQ(expected, o.log) << "cut at " << cut;
        EXPECT_TRUE(o.bars.empty()) << "cut at " << cut;
        EXPECT_FALSE(o.tapInUse) << "cut at " << cut;
    }
    EXPECT_EQ(before, diskTree());
}

struct ChecksumCase {
    const char *name;
    bool flipped;      // one byte of a file's data changed in the TAP file
    bool found;        // the run found ".PayloadCRC"
    bool installs;
};

const ChecksumCase kChecksums[] = {
    {"MatchingChecksumInstalls", false, true, true},
    {"FlippedByteIsRefused", true, true, false},
    {"WithoutChecksumSectionTheArchiveIsTrusted", true, false, true},
};

class PayloadChecksum : public ExtractSmall, public ::testing::WithParamInterface<ChecksumCase> {};

TEST_P(PayloadChecksum, DecidesBeforeAnythingIsWritten) {
    const ChecksumCase &c = GetParam();
    gPayloadCRCFound = c.found;
    gPayloadCRC = c.found ? crc : 0;
    std::map<std::string, std::string> before = diskTree();
    Outcome o = deliver(tapFile(c.flipped ? flipped : archive.bytes), kOffset, archive.bytes.size());
    if (c.installs) {
        EXPECT_EQ(c.flipped ? "Firmware data" : "firmware data", readFile(disk("/ProgramFiles/FirmwareTMS.dat")))
            << c.name;
        EXPECT_EQ(headerOffsets(archive).size() + 1, o.bars.size()) << c.name;
        return;
    }
    char line[128];
    snprintf(line, sizeof line, "Error: TAP file damaged, payload checksum %08X instead of %08X. Nothing installed.",
             flippedCRC, crc);
    EXPECT_EQ(std::vector<std::string>{line}, o.log) << c.name;
    EXPECT_TRUE(o.bars.empty()) << c.name;
    EXPECT_EQ(before, diskTree()) << c.name;
    EXPECT_FALSE(o.tapInUse) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Sections, PayloadChecksum, ::testing::ValuesIn(kChecksums),
                         [](const ::testing::TestParamInfo<ChecksumCase> &info) { return info.param.name; });

// ---- A TAP file that cannot be opened or mapped -------------------------

struct OpenCase {
    const char *name;
    const char *file;   // gMyTAPFileName
    int offset;         // relative to the archive's offset
    int sizeChange;     // relative to the archive's size
    std::string line;   // empty: the incomplete-payload line with 0 bytes present
};

const OpenCase kOpens[] = {
    {"MissingFile", "/mnt/hd/ProgramFiles/Missing.tap", 0, 0, "Error opening TAP file. errno = 2."},
    {"NoFileName", nullptr, 0, 0, "Error opening TAP file. errno = 2."},
    {"OffsetOffPage", tapName, 512, -512, "Error creating mmap(). errno = 22,"},
    {"EmptySection", tapName, 0, INT_MIN, "Error creating mmap(). errno = 22,"},
    {"OffsetBeforeTheFile", tapName, -kOffset - 4096, 0, ""},
};

class TapFileFailure : public ExtractSmall, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(TapFileFailure, LogsOneLineAndLeavesTheDiskAlone) {
    const OpenCase &c = GetParam();
    writeFile(disk(kTap), tapFile(archive.bytes));
    gMyTAPFileName = (char *)c.file;
    std::map<std::string, std::string> before = diskTree();
    dword size = c.sizeChange == INT_MIN ? 0 : archive.bytes.size() + c.sizeChange;
    Outcome o = deliver("", kOffset + c.offset, size);
    std::string line = !c.line.empty() ? c.line
                                       : "Error: TAP file damaged, payload incomplete (0 of " +
                                             std::to_string(size) + " bytes). Nothing installed.";
    EXPECT_EQ(std::vector<std::string>{line}, o.log) << c.name;
    EXPECT_TRUE(o.bars.empty()) << c.name;
    EXPECT_FALSE(o.tapInUse) << c.name;
    EXPECT_EQ(before, diskTree()) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Files, TapFileFailure, ::testing::ValuesIn(kOpens),
                         [](const ::testing::TestParamInfo<OpenCase> &info) { return info.param.name; });

// ---- Keep-newer: the firmware data file and the two TAPs ---------------

struct KeepCase {
    const char *name;
    const char *file;
    int flags;
    bool onDisk;
    long diskOffset;   // disk copy's mtime relative to the archive's
    bool kept;
};

const KeepCase kKeeps[] = {
    {"FirmwareLaterOnDiskIsKept", "FirmwareTMS.dat", 1, true, 1, true},
    {"FirmwareEqualIsWritten", "FirmwareTMS.dat", 1, true, 0, false},
    {"FirmwareEarlierIsWritten", "FirmwareTMS.dat", 1, true, -86400, false},
    {"FirmwareAbsentIsWritten", "FirmwareTMS.dat", 1, false, 0, false},
    {"ConfigTapIsAlwaysWritten", "Zephyrdesk-Config.tap", 12, true, 86400, false},
    {"MainTapIsAlwaysWritten", "Zephyrdesk.tap", 4, true, 86400, false},
};

class KeepNewer : public Extract, public ::testing::WithParamInterface<KeepCase> {
protected:
    void prepare() override {
        archive = gnuTar(work, {{P, '5', "", kTime},
                                {P + "/FirmwareTMS.dat", '0', "archive's FirmwareTMS.dat", kTime},
                                {P + "/Zephyrdesk-Config.tap", '0', "archive's Zephyrdesk-Config.tap", kTime},
                                {P + "/Zephyrdesk.tap", '0', "archive's Zephyrdesk.tap", kTime}});
    }
    Archive archive;
};

TEST_P(KeepNewer, KeepsOnlyALaterFirmwareFile) {
    const KeepCase &c = GetParam();
    std::string host = disk(std::string("/ProgramFiles/") + c.file), archived = std::string("archive's ") + c.file;
    FileState disk0;
    if (c.onDisk) {
        writeFile(host, "disk copy");
        struct utimbuf t = {(time_t)(kTime - 5), (time_t)(kTime + c.diskOffset)};
        utime(host.c_str(), &t);
        disk0 = fileState(host);
    }
    struct stat64 st = {};
    lstat64(host.c_str(), &st);
    Outcome o = deliver(archive);

    std::vector<std::string> expected = {processing(P + "/" + c.file, c.flags, '0')};
    if (c.flags & 1)
        expected.push_back("  TAR time " + std::to_string(kTime) + ", HDD atime: " +
                           std::to_string(c.onDisk ? (long long)st.st_atime : 0) + ", mtime: " +
                           std::to_string(c.onDisk ? (long long)st.st_mtime : 0) + ", ctime " +
                           std::to_string(c.onDisk ? (long long)st.st_ctime : 0) + ".");
    expected.push_back(c.kept ? "  TAR file older, not copying."
                              : "  Creating file: '/" + P + "/" + c.file + "', " + std::to_string(archived.size()) +
                                    " bytes.");
    size_t at = std::find(o.log.begin(), o.log.end(), expected[0]) - o.log.begin();
    ASSERT_LT(at, o.log.size()) << c.name;
    std::vector<std::string> got(o.log.begin() + at, o.log.begin() + std::min(o.log.size(), at + expected.size()));
    EXPECT_EQ(expected, got) << c.name;
    FileState now = fileState(host);
    EXPECT_EQ(c.kept ? "disk copy" : archived, now.bytes) << c.name;
    EXPECT_EQ(c.kept ? disk0.mtime : kTime, now.mtime) << c.name;
}

INSTANTIATE_TEST_SUITE_P(DiskCopies, KeepNewer, ::testing::ValuesIn(kKeeps),
                         [](const ::testing::TestParamInfo<KeepCase> &info) { return info.param.name; });

// ---- Damaged archives ---------------------------------------------------

// A file before the damaged entry, the damaged entry, one after it.
enum class Damage {
    Checksum, NegativeSize, HugeSize, LongNameWithoutEnd, LongName511, DotDot, DotDotLongName, SectionCutInData,
    SectionEndsInsideBlock
};

struct DamageCase {
    const char *name;
    Damage damage;
    std::string reason;
};

const DamageCase kDamages[] = {
    {"ChecksumWrong", Damage::Checksum, "header checksum wrong"},
    {"NegativeSize", Damage::NegativeSize, "negative size"},
    {"SizePastTheSection", Damage::HugeSize, "data past the end of the section"},
    {"DataCutBySectionEnd", Damage::SectionCutInData, "data past the end of the section"},
    {"LongNameWithoutNul", Damage::LongNameWithoutEnd, "long name without end"},
    {"LongNameOf511", Damage::LongName511, "long name over 510 characters"},
    {"DotDotComponent", Damage::DotDot, "name with a '..' component"},
    {"DotDotInLongName", Damage::DotDotLongName, "name with a '..' component"},
    {"SectionEndsInsideABlock", Damage::SectionEndsInsideBlock, "header block cut short"},
};

class DamagedArchive : public Extract, public ::testing::WithParamInterface<DamageCase> {
protected:
    void prepare() override {
        const DamageCase &c = GetParam();
        std::string b = P + "/b.txt", options;
        if (c.damage == Damage::LongNameWithoutEnd) b = longName(512);
        if (c.damage == Damage::LongName511) b = longName(511);
        if (c.damage == Damage::DotDot) b = P + "/../ProgramFiles/b.txt", options = "-P";
        if (c.damage == Damage::DotDotLongName) b = P + "/../ProgramFiles/" + repeat('b', 120), options = "-P";
        archive = gnuTar(work, {{P, '5', "", kTime},
                                {P + "/a.txt", '0', "before", kTime},
                                {b, '0', randomBytes(1000, 7), kTime},
                                {P + "/c.txt", '0', "after", kTime}},
                         options);
        size = archive.bytes.size();
        damaged = archive.members[2].block * 512;
        std::string &bytes = archive.bytes;
        switch (c.damage) {
        case Damage::Checksum: bytes[damaged + 100] ^= 1; break;
        case Damage::NegativeSize: memcpy(&bytes[damaged + 124], "-0000000001", 12), fixChecksum(bytes, damaged); break;
        case Damage::HugeSize: memcpy(&bytes[damaged + 124], "17777777777", 12), fixChecksum(bytes, damaged); break;
        case Damage::SectionCutInData: size = damaged + 1024; break;
        case Damage::SectionEndsInsideBlock: size -= 100, damaged = size - 412; break;
        default: break;
        }
    }
    Archive archive;
    dword size = 0, damaged = 0;
};

TEST_P(DamagedArchive, StopsThereWithFullBar) {
    const DamageCase &c = GetParam();
    Outcome o = deliver(tapFile(archive.bytes), kOffset, size);
    ASSERT_FALSE(o.log.empty());
    EXPECT_EQ(damagedLine(damaged, c.reason), o.log.back()) << c.name;
    EXPECT_EQ(1, std::count_if(o.log.begin(), o.log.end(), [](const std::string &l) { return l.find("**") != l.npos; }))
        << c.name;
    EXPECT_EQ("before", readFile(disk("/ProgramFiles/a.txt"))) << c.name;
    bool allWritten = c.damage == Damage::SectionEndsInsideBlock;
    EXPECT_EQ(allWritten, fileExists(disk("/ProgramFiles/c.txt"))) << c.name;
    std::vector<std::string> written, expected = {"ProgramFiles/", "ProgramFiles/a.txt"};
    if (allWritten) expected.push_back("ProgramFiles/b.txt"), expected.push_back("ProgramFiles/c.txt");
    for (const auto &entry : diskTree()) written.push_back(entry.first);
    EXPECT_EQ(expected, written) << c.name << ": nothing past the entry before it";
    std::vector<dword> offsets;
    for (dword at : headerOffsets(archive))
        if (at < damaged) offsets.push_back(at);
    EXPECT_EQ(expectedBars(offsets, size), o.bars) << c.name;
    EXPECT_FALSE(o.tapInUse) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Rules, DamagedArchive, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<DamageCase> &info) { return info.param.name; });

// ---- The CRC-32 itself, against gzip -------------------------------------

struct CrcCase {
    const char *name;
    size_t start, length;
};

const CrcCase kCrcs[] = {
    {"Empty", 0, 0}, {"OneByte", 0, 1}, {"SevenUnaligned", 1, 7}, {"EightAligned", 0, 8},
    {"NineUnaligned", 3, 9}, {"PageAndABit", 2, 4101}, {"Large", 0, 300000},
};

class PayloadCRC32 : public ::testing::TestWithParam<CrcCase> {};

TEST_P(PayloadCRC32, MatchesZlib) {
    const CrcCase &c = GetParam();
    std::string bytes = randomBytes(c.start + c.length, 11);
    makeDirs(TEST_SCRATCH_DIR);
    std::string file = std::string(TEST_SCRATCH_DIR) + "/crc-" + c.name + ".bin";
    writeFile(file, bytes.substr(c.start));
    EXPECT_EQ(gzipCRC(file), payloadCRC32(bytes.data() + c.start, c.length)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Lengths, PayloadCRC32, ::testing::ValuesIn(kCrcs),
                         [](const ::testing::TestParamInfo<CrcCase> &info) { return info.param.name; });

} // namespace
