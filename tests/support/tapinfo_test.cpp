// TAP file information and the operations on running TAPs: the identity
// sections of the installer's own file and of patched copies of a real
// TAP (expected values from the files' bytes at readelf's offsets), and
// finding, reaching and stopping real TAPs loaded in the stand-in's task
// table.
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "elf_reference.h"
#include "emutest.h"
#include "support/velalib.h"

namespace {

const std::string kTapDir = TEST_TAP_DIR;
const dword kInstallerId = 0x51525619, kSketchId = 0x51525699, kTwinAId = 0x51525601, kTwinBId = 0x51525602,
            kProbeAId = 0x51525603, kProbeBId = 0x51525604;

TapTaskEntry *table() {
    void *global = dlopen(nullptr, RTLD_LAZY | RTLD_GLOBAL);
    TapTaskEntry *t = (TapTaskEntry *)dlsym(global, "_tapTask");
    dlclose(global);
    return t;
}

int &current() {
    void *global = dlopen(nullptr, RTLD_LAZY | RTLD_GLOBAL);
    int *c = (int *)dlsym(global, "_curTapTask");
    dlclose(global);
    return *c;
}

bool readerClosed() {
    return fTAP == 0 && !ELFHeader && !SectionHeaders && !shstrtab && !symtab && !strtab;
}

// The Modified Julian Date of a Gregorian day, through the C library.
dword mjd(int year, int month, int day) {
    struct tm t = {};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day, t.tm_hour = 12;
    return (dword)(timegm(&t) / 86400 + 40587);
}

// A record with guard bytes behind it, all of it filled with 0xA5 first.
struct GuardedInfo {
    TapInfo info;
    unsigned char guard[512];
    GuardedInfo() { memset(this, 0xA5, sizeof *this); }
    bool guardIntact() const {
        for (unsigned char c : guard)
            if (c != 0xA5) return false;
        return true;
    }
};

// ---- The installer's own file ------------------------------------------------------

class InstallerInfo : public EmuTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(InstallerInfo, CarriesTheInstallersIdentity) {
    writeFile(disk("/ProgramFiles/Zephyrdesk-Install.tap"), readFile(INSTALLER_TAP));
    unsigned blocks = emuHeapBlocksInUse();
    GuardedInfo g;
    ASSERT_EQ(1, HDD_TAP_GetInfo(GetParam(), &g.info)) << GetParam();
    EXPECT_EQ(kInstallerId, g.info.TapID);
    EXPECT_EQ(58160u, g.info.Date) << "11 February 2018";
    EXPECT_STREQ("Zephyrdesk-Install 2.20", g.info.ProgramName);
    EXPECT_STREQ("Install Zephyrdesk.", g.info.Description);
    EXPECT_STREQ("2.20", g.info.Version);
    EXPECT_STREQ("Zephyrdesk team", g.info.Author);
    EXPECT_TRUE(g.guardIntact());
    EXPECT_TRUE(readerClosed());
    EXPECT_EQ(blocks, emuHeapBlocksInUse());
}

INSTANTIATE_TEST_SUITE_P(ThisBuild, InstallerInfo,
                         ::testing::Values("/ProgramFiles/Zephyrdesk-Install.tap",
                                           "/mnt/hd/ProgramFiles/Zephyrdesk-Install.tap", "Zephyrdesk-Install.tap"));

using GetInfoTest = EmuTest;

TEST_F(GetInfoTest, NoRecordOrNoReadableFileGivesZeroAndLeavesNothingOpen) {
    writeFile(disk("/ProgramFiles/Sketch.tap"), readFile(kTapDir + "/Sketch.tap"));
    writeFile(disk("/ProgramFiles/Text.tap"), std::string(4096, 'x'));
    unsigned blocks = emuHeapBlocksInUse();
    EXPECT_EQ(0, HDD_TAP_GetInfo("/ProgramFiles/Sketch.tap", nullptr));
    TapInfo info;
    for (const char *path : {"/ProgramFiles/Missing.tap", "/ProgramFiles/Text.tap", "", "/ProgramFiles"}) {
        EXPECT_EQ(0, HDD_TAP_GetInfo(path, &info)) << path;
        EXPECT_TRUE(readerClosed()) << path;
    }
    EXPECT_EQ(0, HDD_TAP_GetInfo(nullptr, &info));
    EXPECT_TRUE(readerClosed());
    EXPECT_EQ(blocks, emuHeapBlocksInUse());
}

// ---- Patched copies of a real TAP file -------------------------------------------------

const char *const kTexts[] = {"._tap_program_name", "._tap_author_name", "._tap_description",
                              "._tap_program_version"};

struct InfoCase {
    const char *label;
    std::function<void(elfref::TapFile &)> patch;  // on a copy of Sketch.tap
    int result;
    const char *makeMjd;                           // the call's arguments "Y M D"; null: no date, 0
    std::vector<const char *> texts;               // four expected texts (null or none: as the file holds it)
};

const InfoCase kInfoCases[] = {
    {"AsBuilt", [](elfref::TapFile &) {}, 1, "2016 2 29", {}},
    {"NoBuildDate", [](elfref::TapFile &f) { f.rename("._tap_etcinfo"); }, 1, nullptr, {}},
    {"OneDigitDayAfterBlank", [](elfref::TapFile &f) { f.fill("._tap_etcinfo", "Feb  1 2018"); }, 1, "2018 2 1", {}},
    {"OneDigitDayAfterZero", [](elfref::TapFile &f) { f.fill("._tap_etcinfo", "Dec 07 2017"); }, 1, "2017 12 7", {}},
    {"MonthNotInTheList", [](elfref::TapFile &f) { f.fill("._tap_etcinfo", "Fab 11 2018"); }, 1, "2018 0 11", {}},
    {"MonthInLowerCase", [](elfref::TapFile &f) { f.fill("._tap_etcinfo", "feb 11 2018"); }, 1, "2018 0 11", {}},
    {"BuildDateLargerThanItsBuffer", [](elfref::TapFile &f) { f.resize("._tap_etcinfo", 300); }, 1, "2016 2 29", {}},
    {"BuildDateFillsItsBuffer",
     [](elfref::TapFile &f) {
         f.resize("._tap_etcinfo", 128);
         f.fill("._tap_etcinfo", "Jan 31 2019" + std::string(53, 'x'));
         f.bytes.replace((size_t)f.section("._tap_etcinfo").offset + 64, 64, std::string(64, 'x'));
     },
     1, "2019 1 31", {}},
    {"IdOfEightBytes", [](elfref::TapFile &f) { f.resize("._tap_id", 8); }, 0, nullptr, {}},
    {"NoId", [](elfref::TapFile &f) { f.rename("._tap_id"); }, 0, nullptr, {}},
    {"IdOnly",
     [](elfref::TapFile &f) {
         for (const char *s : kTexts) f.rename(s);
         f.rename("._tap_etcinfo");
     },
     1, nullptr, {"", "", "", ""}},
    {"TextsFillTheirFields",
     [](elfref::TapFile &f) {
         f.fill("._tap_program_name", std::string(64, 'N'));
         f.fill("._tap_author_name", std::string(64, 'A'));
         f.fill("._tap_description", std::string(128, 'D'));
         f.fill("._tap_program_version", std::string(64, 'V'));
     },
     1, "2016 2 29", {"NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN",
                      "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
                      "DDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDD"
                      "DDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDD",
                      "VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV"}},
    {"SectionsLargerThanTheirFields",
     [](elfref::TapFile &f) {
         f.fill("._tap_program_version", std::string(64, 'V'));
         for (const char *s : kTexts) f.resize(s, 1000);
     },
     1, "2016 2 29", {}},
    {"TextRunsPastTheEnd",  // the file's last 4 bytes: sh_entsize of the last header, which no one reads
     [](elfref::TapFile &f) {
         f.put(f.offsetField(f.index("._tap_description")), f.bytes.size() - 4, f.word());
         f.bytes.replace(f.bytes.size() - 4, 4, "Tail");
     },
     1, "2016 2 29", {nullptr, nullptr, "Tail", nullptr}},
};

std::ostream &operator<<(std::ostream &o, const InfoCase &c) { return o << c.label; }

class PatchedTap : public EmuTest, public ::testing::WithParamInterface<InfoCase> {
protected:
    void SetUp() override {  // readelf before the receiver starts
        file.bytes = readFile(kTapDir + "/Sketch.tap");
        file.layout = elfref::readelf(kTapDir + "/Sketch.tap");
        ASSERT_TRUE(file.layout.ok);
        EmuTest::SetUp();
    }
    elfref::TapFile file;
};

TEST_P(PatchedTap, ReadsWhatTheFileHolds) {
    const InfoCase &c = GetParam();
    elfref::TapFile patched = file;
    c.patch(patched);
    writeFile(disk("/ProgramFiles/Patched.tap"), patched.bytes);
    unsigned blocks = emuHeapBlocksInUse();
    size_t from = trace().size();
    GuardedInfo g;
    ASSERT_EQ(c.result, HDD_TAP_GetInfo("/ProgramFiles/Patched.tap", &g.info)) << c.label;
    EXPECT_TRUE(g.guardIntact()) << c.label << ": nothing written past the record";
    EXPECT_TRUE(readerClosed()) << c.label;
    EXPECT_EQ(blocks, emuHeapBlocksInUse()) << c.label;
    if (c.result == 0) return;

    EXPECT_EQ(file.get((size_t)file.section("._tap_id").offset, 4), g.info.TapID) << c.label;
    std::vector<std::string> makeMjd;
    for (const std::string &line : traceFrom(from))
        if (line.rfind("TAP_MakeMjd ", 0) == 0) makeMjd.push_back(line);
    if (!c.makeMjd) {
        EXPECT_EQ(0u, g.info.Date) << c.label;
        EXPECT_TRUE(makeMjd.empty()) << c.label;
    } else {
        ASSERT_EQ(1u, makeMjd.size()) << c.label;
        std::string prefix = std::string("TAP_MakeMjd ") + c.makeMjd + " -> ";
        ASSERT_EQ(prefix, makeMjd[0].substr(0, prefix.size())) << c.label;
        EXPECT_EQ(std::stoul(makeMjd[0].substr(prefix.size())), g.info.Date) << c.label << ": the firmware's answer";
        int y, m, d;
        sscanf(c.makeMjd, "%d %d %d", &y, &m, &d);
        if (m >= 1) {
            EXPECT_EQ(mjd(y, m, d), g.info.Date) << c.label;
        }
    }
    const char *fields[] = {g.info.ProgramName, g.info.Author, g.info.Description, g.info.Version};
    const size_t sizes[] = {64, 64, 128, 64};
    for (int i = 0; i < 4; i++) {
        std::string expected = c.texts.empty() || !c.texts[i] ? patched.text(kTexts[i]).substr(0, sizes[i] - 1)
                                                              : c.texts[i];
        EXPECT_NE(nullptr, memchr(fields[i], 0, sizes[i])) << c.label << ": " << kTexts[i] << " ends in its field";
        EXPECT_EQ(expected, std::string(fields[i], strnlen(fields[i], sizes[i]))) << c.label << ": " << kTexts[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Sketch, PatchedTap, ::testing::ValuesIn(kInfoCases),
                         [](const ::testing::TestParamInfo<InfoCase> &i) { return i.param.label; });

// ---- The path of a firmware file object --------------------------------------------------

struct PathCase {
    const char *label;
    bool file, record;  // a file object, with a path record
    const char *path;   // in the record; null: none
    TapWord magic;
    size_t room;        // size handed over with the destination
    int result;
};

const PathCase kPaths[] = {
    {"Copied", true, true, "/mnt/hd/ProgramFiles/Zephyrdesk.tap", PATH_RECORD_MAGIC, 64, 1},
    {"FitsExactly", true, true, "/mnt/hd/ProgramFiles/Zephyrdesk.tap", PATH_RECORD_MAGIC, 36, 1},
    {"OneByteShort", true, true, "/mnt/hd/ProgramFiles/Zephyrdesk.tap", PATH_RECORD_MAGIC, 35, 0},
    {"MagicNotTested", true, true, "/mnt/hd/ProgramFiles/x.tap", 0x12345678, 64, 1},
    {"NoPath", true, true, nullptr, PATH_RECORD_MAGIC, 64, 0},
    {"NoPathRecord", true, false, nullptr, PATH_RECORD_MAGIC, 64, 0},
    {"NoFileObject", false, false, nullptr, PATH_RECORD_MAGIC, 64, 0},
};

std::ostream &operator<<(std::ostream &o, const PathCase &c) { return o << c.label; }

class AbsolutePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(AbsolutePath, CopiesThePathIntoTheRoomGiven) {
    const PathCase &c = GetParam();
    TapWord record[4] = {c.magic, 0, (TapWord)c.path, 0};
    TapWord fileObject[40] = {};
    if (c.record) fileObject[FILE_OBJECT_PATH_RECORD_WORD] = (TapWord)record;
    char destination[80];
    memset(destination, '#', sizeof destination);
    EXPECT_EQ(c.result, HDD_GetAbsolutePathByTypeFile(c.file ? fileObject : nullptr, destination, (dword)c.room))
        << c.label;
    EXPECT_STREQ(c.result ? c.path : "", destination) << c.label;
    EXPECT_EQ(std::string(sizeof destination - c.room, '#'), std::string(destination + c.room, sizeof destination - c.room))
        << c.label << ": nothing beyond the room";
    EXPECT_EQ(0, HDD_GetAbsolutePathByTypeFile(c.file ? fileObject : nullptr, nullptr, 64)) << c.label;
}

INSTANTIATE_TEST_SUITE_P(FileObject, AbsolutePath, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<PathCase> &i) { return i.param.label; });

// ---- Running TAPs --------------------------------------------------------------------------

// Slot 0 (no handler) has a copy of Sketch.tap as its file and the test
// program in slot 1 (no handler) a copy of the installer; then come the
// loaded TAPs: ProbeA, ProbeB, a second copy of ProbeA, TwinA, and a copy
// of TwinB whose file then loses its "._tap_id" (NoId.tap's bytes).
class RunningTaps : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        ASSERT_EQ(1, slot);
        writeFile(disk("/ProgramFiles/Resident.tap"), readFile(kTapDir + "/Sketch.tap"));
        writeFile(disk("/ProgramFiles/Test.tap"), readFile(INSTALLER_TAP));
        writeFile(disk("/ProgramFiles/ProbeA-Copy.tap"), readFile(kTapDir + "/ProbeA.tap"));
        writeFile(disk("/ProgramFiles/Unreadable.tap"), readFile(kTapDir + "/TwinB.tap"));
        const std::string taps[] = {kTapDir + "/ProbeA.tap", kTapDir + "/ProbeB.tap", "/ProgramFiles/ProbeA-Copy.tap",
                                    kTapDir + "/TwinA.tap", "/ProgramFiles/Unreadable.tap"};
        for (int i = 0; i < 5; i++) {
            char err[256] = "";
            ASSERT_EQ(2 + i, emuLoadTap(taps[i].c_str(), err, sizeof err)) << err;
        }
        // a new file in its place: the loaded code stays mapped from the old one
        unlink(disk("/ProgramFiles/Unreadable.tap").c_str());
        writeFile(disk("/ProgramFiles/Unreadable.tap"), readFile(kTapDir + "/NoId.tap"));
        blocks = emuHeapBlocksInUse();
        mark = trace().size();
    }
    void TearDown() override {
        EXPECT_TRUE(readerClosed());
        EXPECT_EQ(blocks, emuHeapBlocksInUse()) << "every heap block is given back";
        EmuTest::TearDown();
    }
    // What the TAPs printed since the last call.
    std::vector<std::string> printed() {
        std::vector<std::string> lines;
        std::vector<std::string> t = trace();
        for (size_t i = mark; i < t.size(); i++)
            if (t[i].rfind("TAP_Print \"", 0) == 0) {
                std::string text = t[i].substr(11, t[i].rfind("\\x0A\"") - 11);
                lines.push_back(text);
            }
        mark = t.size();
        return lines;
    }
    unsigned blocks = 0;
    size_t mark = 0;
};

using Lines = std::vector<std::string>;

TEST_F(RunningTaps, IdOfEverySlotComesFromItsFile) {
    const dword expected[TAP_TASK_SLOTS] = {kSketchId, kInstallerId, kProbeAId, kProbeBId, kProbeAId, kTwinAId};
    for (unsigned i = 0; i < TAP_TASK_SLOTS; i++) EXPECT_EQ(expected[i], HDD_TAP_GetIDByIndex(i)) << "slot " << i;
    EXPECT_EQ(0u, HDD_TAP_GetIDByIndex(TAP_TASK_SLOTS));
    EXPECT_EQ(0u, HDD_TAP_GetIDByIndex(0xFFFFFFFFu));
    table()[3].State = 0;  // whatever the state word holds
    EXPECT_EQ(kProbeBId, HDD_TAP_GetIDByIndex(3));
    table()[3].State = TAP_STATE_RUNNING;
}

struct Target {
    const char *label;
    dword id;
    int index;              // HDD_TAP_GetIndexByID
    dword result;           // HDD_TAP_SendEvent with the ID, event 0x2222, 5, 6
    Lines printed;
};

const Target kTargets[] = {
    {"NoHandlerInSlot0", kSketchId, 0, 0, {}},
    {"Self", kInstallerId, 1, 0, {}},
    {"LowerOfTwoCopies", kProbeAId, 2, 0xA0A0, {"ProbeA in slot 2: 0x2222 5 6"}},
    {"TakesTheEvent", kProbeBId, 3, 0, {"ProbeB in slot 3: 0x2222 5 6"}},
    {"Twin", kTwinAId, 5, 5, {"TwinA 1"}},
    {"FileLostItsId", kTwinBId, -1, 0, {}},
    {"Unknown", 0x12345678, -1, 0, {}},
};

std::ostream &operator<<(std::ostream &o, const Target &t) { return o << t.label; }

class OneTap : public RunningTaps, public ::testing::WithParamInterface<Target> {};

TEST_P(OneTap, IsFoundAndReachedInItsLowestSlot) {
    const Target &t = GetParam();
    EXPECT_EQ(t.index, HDD_TAP_GetIndexByID(t.id)) << t.label;
    current() = slot;
    EXPECT_EQ(t.result, HDD_TAP_SendEvent(t.id, false, 0x2222, 5, 6)) << t.label;
    EXPECT_EQ(slot, current()) << t.label << ": the current slot is restored";
    EXPECT_EQ(t.printed, printed()) << t.label;
}

INSTANTIATE_TEST_SUITE_P(TaskTable, OneTap, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target> &i) { return i.param.label; });

TEST_F(RunningTaps, IdZeroMatchesTheFirstSlotWhoseIdCannotBeRead) {
    EXPECT_EQ(6, HDD_TAP_GetIndexByID(0));
    writeFile(disk("/ProgramFiles/Resident.tap"), "");
    EXPECT_EQ(0, HDD_TAP_GetIndexByID(0));
}

struct Broadcast {
    const char *label;
    bool stop;
    dword result;
    Lines printed;
};

const Broadcast kBroadcasts[] = {
    {"ReachesEveryHandler", false, 0x77,
     {"ProbeA in slot 2: 0x2222 119 136", "ProbeB in slot 3: 0x2222 119 136", "ProbeA in slot 4: 0x2222 119 136",
      "TwinA 1", "TwinB 1"}},
    {"StopsAtTheFirstZero", true, 0, {"ProbeA in slot 2: 0x2222 119 136", "ProbeB in slot 3: 0x2222 119 136"}},
};

std::ostream &operator<<(std::ostream &o, const Broadcast &b) { return o << b.label; }

class ToEveryTap : public RunningTaps, public ::testing::WithParamInterface<Broadcast> {};

TEST_P(ToEveryTap, GivesTheLastHandlersResult) {
    const Broadcast &b = GetParam();
    current() = slot;
    EXPECT_EQ(b.result, HDD_TAP_SendEvent(0, b.stop, 0x2222, 0x77, 0x88)) << b.label;
    EXPECT_EQ(slot, current()) << b.label;
    EXPECT_EQ(b.printed, printed()) << b.label;
}

INSTANTIATE_TEST_SUITE_P(TaskTable, ToEveryTap, ::testing::ValuesIn(kBroadcasts),
                         [](const ::testing::TestParamInfo<Broadcast> &i) { return i.param.label; });

// The test program stops a TAP from inside its own event, as a TAP does.
struct Stop {
    const char *label;
    dword id;
    int result;
    Lines printed;
    int ended;  // the slot that the stand-in ends, -1: none
};

const Stop kStops[] = {
    {"LowerOfTwoCopies", kProbeAId, 2, {"ProbeA in slot 2: 0x900 1 0"}, 2},
    {"Twin", kTwinAId, 2, {"TwinA 1"}, 5},
    {"Unknown", 0x12345678, -1, {}, -1},
    {"FileLostItsId", kTwinBId, -1, {}, -1},
    {"IdZero", 0, -1, {}, -1},
};

std::ostream &operator<<(std::ostream &o, const Stop &s) { return o << s.label; }

class Terminate : public RunningTaps, public ::testing::WithParamInterface<Stop> {
protected:
    EmuEventHandler handler() override { return stopInEvent; }
    static dword stopInEvent(word, dword, dword) {
        result = HDD_TAP_Terminate(target);
        for (int i = 0; i < TAP_TASK_SLOTS; i++) stateAfter[i] = table()[i].State;
        return 0;
    }
    static dword target;
    static int result;
    static TapWord stateAfter[TAP_TASK_SLOTS];
};
dword Terminate::target = 0;
int Terminate::result = 0;
TapWord Terminate::stateAfter[TAP_TASK_SLOTS];

TEST_P(Terminate, SendsTheStopEventAndTheFirmwareEndsTheTap) {
    const Stop &s = GetParam();
    target = s.id;
    emuDeliver(slot, EVT_IDLE, 0, 0);
    EXPECT_EQ(s.result, result) << s.label;
    EXPECT_EQ(s.printed, printed()) << s.label;
    for (int i = 2; i <= 6; i++) {
        TapWord state = i == s.ended ? TAP_STATE_TERMINATE : TAP_STATE_RUNNING;
        EXPECT_EQ(state, stateAfter[i]) << s.label << ": state of slot " << i << " as the call returned";
        EXPECT_EQ(i != s.ended, emuSlotRunning(i) == 1) << s.label << ": slot " << i << " after the event";
    }
    Lines t = trace();
    std::string event = "EVENT " + std::to_string(slot) + " 0x0 0x0 0x0 -> 0x0";
    size_t at = std::find(t.begin(), t.end(), event) - t.begin();
    ASSERT_LT(at, t.size()) << event;
    if (s.ended < 0) {
        EXPECT_EQ(at + 1, t.size()) << s.label << ": nothing ends";
        return;
    }
    ASSERT_LT(at + 1, t.size());
    EXPECT_EQ("END " + std::to_string(s.ended) + " ended by state 2", t[at + 1]) << s.label;
    EXPECT_EQ(nullptr, table()[s.ended].File) << s.label << ": the slot is free";
    char err[256] = "";
    EXPECT_EQ(s.ended, emuLoadTap((kTapDir + "/Sketch.tap").c_str(), err, sizeof err)) << err;
    if (s.id == kProbeAId) {
        EXPECT_EQ(4, HDD_TAP_GetIndexByID(kProbeAId)) << "the other copy";
    }
}

INSTANTIATE_TEST_SUITE_P(TaskTable, Terminate, ::testing::ValuesIn(kStops),
                         [](const ::testing::TestParamInfo<Stop> &i) { return i.param.label; });

// Firmware without the task table or the current-slot variable.
struct Missing {
    const char *symbol;
    dword id;         // first slot's ID as read
    int index;        // of ProbeA
    int terminate;    // HDD_TAP_Terminate of TwinA
};

const Missing kMissing[] = {
    {"_tapTask", 0, -1, -1},
    {"_curTapTask", kSketchId, 2, 2},
};

std::ostream &operator<<(std::ostream &o, const Missing &m) { return o << m.symbol; }

class HiddenSymbol : public RunningTaps, public ::testing::WithParamInterface<Missing> {};

TEST_P(HiddenSymbol, NothingIsSent) {
    const Missing &m = GetParam();
    emuHideSymbol(m.symbol, 1);
    EXPECT_EQ(m.id, HDD_TAP_GetIDByIndex(0)) << m.symbol;
    EXPECT_EQ(m.index, HDD_TAP_GetIndexByID(kProbeAId)) << m.symbol;
    EXPECT_EQ(m.index < 0 ? -1 : 6, HDD_TAP_GetIndexByID(0)) << m.symbol;
    EXPECT_EQ(0u, HDD_TAP_SendEvent(kProbeAId, false, 0x2222, 5, 6)) << m.symbol;
    EXPECT_EQ(0u, HDD_TAP_SendEvent(0, false, 0x2222, 5, 6)) << m.symbol;
    EXPECT_EQ(m.terminate, HDD_TAP_Terminate(kTwinAId)) << m.symbol;
    EXPECT_EQ(Lines{}, printed()) << m.symbol << ": no handler runs";
    emuHideSymbol(m.symbol, 0);
}

INSTANTIATE_TEST_SUITE_P(Firmware, HiddenSymbol, ::testing::ValuesIn(kMissing),
                         [](const ::testing::TestParamInfo<Missing> &i) { return std::string(i.param.symbol + 1); });

}  // namespace
