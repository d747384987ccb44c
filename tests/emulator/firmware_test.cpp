// The stand-in firmware as a TAP sees it in-process: the task table and
// the symbols found by name, the TAP_ calls and their trace lines, events
// and the end of a TAP, the /mnt/hd and console mapping.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "emutest.h"
#include "velalib.h"

namespace {

void *lookup(const char *name) {
    void *global = dlopen(nullptr, RTLD_LAZY | RTLD_GLOBAL);
    void *address = dlsym(global, name);
    dlclose(global);
    return address;
}

TapTaskEntry *table() { return (TapTaskEntry *)lookup("_tapTask"); }
int &current() { return *(int *)lookup("_curTapTask"); }

std::string lastLine(const std::vector<std::string> &lines) { return lines.empty() ? "" : lines.back(); }

// ---- Task table --------------------------------------------------------

using TaskTable = EmuTest;

TEST_F(TaskTable, AttachedProgramReadsBackAsTheLibraryReadsASlot) {
    ASSERT_NE(0, slot) << "another TAP holds slot 0";
    TapTaskEntry *t = table();
    ASSERT_NE(nullptr, t);
    int *current = (int *)lookup("_curTapTask");
    ASSERT_NE(nullptr, current);
    EXPECT_EQ(slot, *current);
    TapTaskEntry &e = t[slot];
    EXPECT_EQ((TapWord)TAP_STATE_RUNNING, e.State);
    ASSERT_NE(nullptr, e.File);
    TapWord *record = (TapWord *)e.File[FILE_OBJECT_PATH_RECORD_WORD];
    ASSERT_NE(nullptr, record);
    EXPECT_EQ((TapWord)PATH_RECORD_MAGIC, record[0]);
    EXPECT_STREQ("/mnt/hd/ProgramFiles/Test.tap", (const char *)record[PATH_RECORD_PATH_WORD]);
    ASSERT_NE(nullptr, e.CurrentDir);
    EXPECT_STREQ("/mnt/hd/ProgramFiles", (const char *)e.CurrentDir[CURRENT_DIR_PATH_WORD]);
    for (int other = slot + 1; other < TAP_TASK_SLOTS; other++)
        EXPECT_NE((TapWord)TAP_STATE_RUNNING, t[other].State) << "slot " << other;
}

dword echoHandler(word, dword p1, dword) { return p1 + 1; }

TEST_F(TaskTable, SecondProgramGetsTheNextSlotWithItsHandlerAndFolder) {
    makeDirs(disk("/ProgramFiles/Settings"));
    int second = emuAttachProgram("/ProgramFiles/Other.tap", "/ProgramFiles/Settings", echoHandler);
    ASSERT_EQ(slot + 1, second);
    TapTaskEntry &e = table()[second];
    EXPECT_EQ(echoHandler, e.EventHandler);
    EXPECT_EQ(41u, e.EventHandler(EVT_IDLE, 40, 0));
    EXPECT_STREQ("/mnt/hd/ProgramFiles/Settings", (const char *)e.CurrentDir[CURRENT_DIR_PATH_WORD]);
}

TEST_F(TaskTable, FullTableRefusesTheSeventeenthTap) {
    for (int attached = slot + 1; attached < TAP_TASK_SLOTS; attached++)
        ASSERT_GE(emuAttachProgram("/ProgramFiles/More.tap", nullptr, nullptr), 0) << "TAP " << attached;
    EXPECT_EQ(-1, emuAttachProgram("/ProgramFiles/OneTooMany.tap", nullptr, nullptr));
}

#if UINTPTR_MAX == 0xFFFFFFFFu
TEST(TaskTableLayout, SlotIsTheReceiversElevenWords) {
    EXPECT_EQ(44u, sizeof(TapTaskEntry));
    EXPECT_EQ(20u, offsetof(TapTaskEntry, EventHandler));
    EXPECT_EQ(40u, offsetof(TapTaskEntry, CurrentDir));
}
#endif

// ---- Symbols by name -----------------------------------------------------

using FirmwareSymbols = EmuTest;

TEST_F(FirmwareSymbols, LookupsByNameAreCounted) {
    EXPECT_EQ(0u, emuLookupCount("_tapTask"));
    lookup("_tapTask");
    lookup("_tapTask");
    lookup("PvrTimeToLinux");
    EXPECT_EQ(2u, emuLookupCount("_tapTask"));
    EXPECT_EQ(1u, emuLookupCount("PvrTimeToLinux"));
    EXPECT_EQ(0u, emuLookupCount("_curTapTask"));
}

TEST_F(FirmwareSymbols, HiddenSymbolIsNotFoundUntilShownAgain) {
    emuHideSymbol("_tapTask", 1);
    EXPECT_EQ(nullptr, lookup("_tapTask"));
    emuHideSymbol("_tapTask", 0);
    EXPECT_NE(nullptr, lookup("_tapTask"));
    EXPECT_EQ(2u, emuLookupCount("_tapTask"));
}

TEST_F(FirmwareSymbols, Utf8RoutineIsAbsentOnOrdinaryFirmware) {
    EXPECT_EQ(nullptr, lookup("_Z26Appl_ConvertToValidUTF8StrPhi"));
}

class Utf8Firmware : public EmuTest {
    void configure(EmuOptions &o) override { o.utf8Firmware = 1; }
};

TEST_F(Utf8Firmware, RoutineIsFoundAndRepairsText) {
    auto repair = (void (*)(unsigned char *, int))lookup("_Z26Appl_ConvertToValidUTF8StrPhi");
    ASSERT_NE(nullptr, repair);
    unsigned char text[] = "a\xC3\xA4\xFFz";
    repair(text, sizeof text);
    EXPECT_STREQ("a\xC3\xA4?z", (const char *)text);
}

struct TimeCase {
    const char *what;
    dword fwTime;
    dword linux;
};

void PrintTo(const TimeCase &c, std::ostream *o) { *o << c.what; }

class PvrTime : public EmuTest, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(PvrTime, FirmwareTimeConvertsToUtcSeconds) {
    auto convert = (dword(*)(dword))lookup("PvrTimeToLinux");
    ASSERT_NE(nullptr, convert);
    // never the support library's function of the same name in this program
    EXPECT_NE((void *)convert, (void *)&PvrTimeToLinux);
    EXPECT_EQ(GetParam().linux, convert(GetParam().fwTime)) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Cases, PvrTime,
                         ::testing::ValuesIn(std::vector<TimeCase>{
                             {"epoch", 40587u << 16, 0},
                             {"2016-02-29 13:05", 57447u << 16 | 13 << 8 | 5, 1456751100},
                             {"2000-01-01 00:00", 51544u << 16, 946684800},
                             {"2038-01-19 03:14", 65442u << 16 | 3 << 8 | 14, 2147483640},
                         }));

// ---- Time calls ----------------------------------------------------------

struct DateCase {
    int year, month, day;
    word mjd;
    int weekDay;  // 0 Sunday
};

void PrintTo(const DateCase &c, std::ostream *o) { *o << c.year << "-" << c.month << "-" << c.day; }

class DateCalls : public EmuTest, public ::testing::WithParamInterface<DateCase> {};

TEST_P(DateCalls, MakeAndExtractAgree) {
    const DateCase &c = GetParam();
    std::string name = std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day);
    EXPECT_EQ(c.mjd, TAP_MakeMjd(c.year, c.month, c.day)) << name;
    word y = 0;
    byte m = 0, d = 0, wd = 9;
    TAP_ExtractMjd(c.mjd, &y, &m, &d, &wd);
    EXPECT_EQ(c.year, y) << name;
    EXPECT_EQ(c.month, m) << name;
    EXPECT_EQ(c.day, d) << name;
    EXPECT_EQ(c.weekDay, wd) << name;
}

INSTANTIATE_TEST_SUITE_P(Gregorian, DateCalls,
                         ::testing::ValuesIn(std::vector<DateCase>{
                             {1858, 11, 17, 0, 3},
                             {1900, 3, 1, 15079, 4},
                             {1970, 1, 1, 40587, 4},
                             {2000, 2, 29, 51603, 2},
                             {2016, 2, 29, 57447, 1},
                             {2016, 12, 31, 57753, 6},
                             {2038, 4, 22, 65535, 4},
                         }));

using TimeCalls = EmuTest;

TEST_F(TimeCalls, ClockStandsAtTheFixedTimeAndIsTraced) {
    word mjd = 0;
    byte h = 0, m = 0, s = 0;
    TAP_GetTime(&mjd, &h, &m, &s);
    EXPECT_EQ(57447, mjd);
    EXPECT_EQ(13, h);
    EXPECT_EQ(5, m);
    EXPECT_EQ(9, s);
    EXPECT_EQ("TAP_GetTime 57447 13 5 9 -> 0", lastLine(trace()));
    emuSetTime(2017, 1, 1, 0, 0, 59);
    TAP_GetTime(&mjd, &h, &m, &s);
    EXPECT_EQ(57754, mjd);
    EXPECT_EQ(59, s);
}

TEST_F(TimeCalls, InvalidDateMakesNoMjd) {
    EXPECT_EQ(0, TAP_MakeMjd(2015, 2, 29));
    EXPECT_EQ(0, TAP_MakeMjd(2016, 13, 1));
    EXPECT_EQ(0, TAP_MakeMjd(2038, 4, 23));  // past the last day a 16-bit MJD holds
}

// ---- System calls and their trace -----------------------------------------

class SystemCalls : public EmuTest {
    void configure(EmuOptions &o) override { o.language = 11; }
};

TEST_F(SystemCalls, LanguageVersionAndPrintAreAnsweredAndTraced) {
    EXPECT_EQ(11, TAP_GetSystemVar(SYSVAR_LANGUAGE));
    EXPECT_EQ(0, TAP_GetSystemVar(2));
    EXPECT_EQ(0x0012ABCDu, TAP_GetVersion());
    TAP_Print("size=%d %s\n", 12, "\"q\"\\");
    char buffer[32];
    TAP_SPrint(buffer, "%04d-%02d", 2016, 2);
    EXPECT_STREQ("2016-02", buffer);
    std::vector<std::string> expected = {
        "TAP_GetSystemVar 1 -> 11",
        "TAP_GetSystemVar 2 -> 0",
        "TAP_GetVersion -> 1223629",
        "TAP_Print \"size=12 \\\"q\\\"\\\\\\x0A\" -> 13",
    };
    EXPECT_EQ(expected, trace());  // TAP_SPrint only in the full trace
}

class FullTrace : public EmuTest {
    void configure(EmuOptions &o) override { o.traceAll = 1; }
};

TEST_F(FullTrace, SPrintAndHeapCallsAreTracedWithoutPointers) {
    char buffer[16];
    TAP_SPrint(buffer, "%d", 42);
    void *block = TAP_MemAlloc(10);
    ASSERT_NE(nullptr, block);
    TAP_MemCpy(block, "abc", 4);
    EXPECT_EQ(0, TAP_MemCmp(block, "abc", 4));
    TAP_MemFree(block);
    std::vector<std::string> expected = {
        "TAP_SPrint \"42\" \"%d\" -> 2", "TAP_MemAlloc 10 -> 1", "TAP_MemCpy * * 4 -> *",
        "TAP_MemCmp * * 4 -> 0",       "TAP_MemFree * -> 1",
    };
    EXPECT_EQ(expected, trace());
}

using Heap = EmuTest;

TEST_F(Heap, LimitRefusesWhatDoesNotFitAndFreeingMakesRoom) {
    emuSetHeapLimit(100);
    void *a = TAP_MemAlloc(60);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(nullptr, TAP_MemAlloc(60));
    TAP_MemFree(a);
    void *b = TAP_MemAlloc(60);
    EXPECT_NE(nullptr, b);
    TAP_MemFree(b);
    emuSetHeapLimit(0);
}

// A block belongs to the TAP that took it, whoever gives it back.
TEST_F(Heap, BlocksCountForTheTapThatTookThem) {
    int other = emuAttachProgram("/ProgramFiles/Other.tap", nullptr, nullptr);
    ASSERT_GT(other, slot);
    current() = slot;
    EXPECT_EQ(0u, emuHeapBlocksInUse());
    void *mine = TAP_MemAlloc(8), *kept = TAP_MemAlloc(8);
    current() = other;
    void *theirs = TAP_MemAlloc(8);
    TAP_MemFree(mine);
    current() = slot;
    EXPECT_EQ(2u, emuHeapBlocksInUse());
    EXPECT_EQ(1u, emuSlotHeapBlocks(slot));
    EXPECT_EQ(1u, emuSlotHeapBlocks(other));
    EXPECT_EQ(0u, emuSlotHeapBlocks(0));
    TAP_MemFree(theirs);
    EXPECT_EQ(0u, emuSlotHeapBlocks(other));
    EXPECT_EQ(1u, emuHeapBlocksInUse());
    emuStop();
    std::vector<std::string> t = trace();
    std::vector<std::string> summary(t.end() - 3, t.end());
    std::vector<std::string> expected = {
        "SLOT 0 \"/ProgramFiles/Resident.tap\" id 0x00000000 heap 0 dirstack unknown still running at the end",
        "SLOT " + std::to_string(slot) +
            " \"/ProgramFiles/Test.tap\" id 0x00000000 heap 1 dirstack unknown still running at the end",
        "SLOT " + std::to_string(other) +
            " \"/ProgramFiles/Other.tap\" id 0x00000000 heap 0 dirstack unknown still running at the end",
    };
    EXPECT_EQ(expected, summary);

    // a fresh receiver counts afresh, and a block of the earlier one does not count against it
    char err[256] = "";
    ASSERT_EQ(1, emuStart(&options, err, sizeof err)) << err;
    EXPECT_EQ(0u, emuHeapBlocksInUse());
    void *fresh = TAP_MemAlloc(8);
    TAP_MemFree(kept);
    EXPECT_EQ(1u, emuHeapBlocksInUse());
    TAP_MemFree(fresh);
    EXPECT_EQ(0u, emuHeapBlocksInUse());
}

TEST_F(Heap, MemCmpTellsDifferentBytes) {
    EXPECT_EQ(0, TAP_MemCmp("abc", "abc", 3));
    EXPECT_NE(0, TAP_MemCmp("abc", "abd", 3));
    EXPECT_EQ(0, TAP_MemCmp("abc", "abd", 2));
}

// ---- OSD calls -----------------------------------------------------------

using OsdCalls = EmuTest;

TEST_F(OsdCalls, DrawingReachesTheRegionAndTraceShowsColours) {
    int r = TAP_Osd_Create(0, 0, 720, 576, 0, 0x1000);
    ASSERT_GE(r, 1);
    TAP_Osd_FillBox(r, 10, 10, 20, 20, 0xFF102030);
    TAP_Osd_DrawRectangle(r, 100, 100, 50, 50, 2, 0xFFFFFFFF);
    EXPECT_EQ(0xFF102030u, emuOsdPixel(r, 15, 15));
    EXPECT_EQ(0xFFFFFFFFu, emuOsdPixel(r, 101, 120));
    EXPECT_EQ(0u, emuOsdPixel(r, 120, 120));
    std::vector<std::string> expected = {
        "TAP_Osd_Create 0 0 720 576 0 4096 -> " + std::to_string(r),
        "TAP_Osd_FillBox " + std::to_string(r) + " 10 10 20 20 0xFF102030 -> 0",
        "TAP_Osd_DrawRectangle " + std::to_string(r) + " 100 100 50 50 2 0xFFFFFFFF -> 0",
    };
    EXPECT_EQ(expected, trace());
}

TEST_F(OsdCalls, PutSQuotesTheStringByteForByte) {
    int r = TAP_Osd_Create(0, 0, 720, 576, 0, 0x1000);
    TAP_Osd_PutS(r, 150, 220, 570, "F\xFCr \"alle\"", 0xFFC0C0C0, 0, 0, 1, 0, 1);
    EXPECT_EQ("TAP_Osd_PutS " + std::to_string(r) +
                  " 150 220 570 \"F\\xFCr \\\"alle\\\"\" 0xFFC0C0C0 0x00000000 0 1 0 1 -> 0",
              lastLine(trace()));
}

// ---- Disk calls ----------------------------------------------------------

struct ChangeDirCase {
    const char *name;
    const char *from;  // working directory before
    const char *path;
    bool worked;
    const char *plain;    // the working-directory record afterwards, plain
    const char *slashed;  // ... and with a final "/"
};

void PrintTo(const ChangeDirCase &c, std::ostream *o) { *o << c.from << " + " << c.path; }

const ChangeDirCase kChangeDirs[] = {
    {"Relative", "/ProgramFiles", "Settings", true, "/mnt/hd/ProgramFiles/Settings", "/mnt/hd/ProgramFiles/Settings/"},
    {"RelativeWithSlash", "/ProgramFiles", "Settings/Logs/", true, "/mnt/hd/ProgramFiles/Settings/Logs",
     "/mnt/hd/ProgramFiles/Settings/Logs/"},
    {"Absolute", "/ProgramFiles/Settings", "/DataFiles", true, "/mnt/hd/DataFiles", "/mnt/hd/DataFiles/"},
    {"Up", "/ProgramFiles/Settings/Logs", "../..", true, "/mnt/hd/ProgramFiles", "/mnt/hd/ProgramFiles/"},
    {"NeverAboveTheRoot", "/ProgramFiles", "../../../..", true, "/mnt/hd", "/mnt/hd/"},
    {"Root", "/", "/", true, "/mnt/hd", "/mnt/hd/"},
    {"Dots", "/ProgramFiles", "./Settings/.", true, "/mnt/hd/ProgramFiles/Settings", "/mnt/hd/ProgramFiles/Settings/"},
    {"Missing", "/ProgramFiles", "Missing", false, "/mnt/hd/ProgramFiles", "/mnt/hd/ProgramFiles/"},
    {"File", "/ProgramFiles", "file.txt", false, "/mnt/hd/ProgramFiles", "/mnt/hd/ProgramFiles/"},
    {"Empty", "/ProgramFiles", "", false, "/mnt/hd/ProgramFiles", "/mnt/hd/ProgramFiles/"},
};

class HddChangeDir : public CasesEachConvention<EmuTest, ChangeDirCase> {};

// The status and the record follow the receiver's conventions.
TEST_P(HddChangeDir, MovesWithinTheDisk) {
    const ChangeDirCase &c = param();
    makeDirs(disk("/ProgramFiles/Settings/Logs"));
    makeDirs(disk("/DataFiles"));
    writeFile(disk("/ProgramFiles/file.txt"), "x");
    const FirmwareConvention &f = std::get<1>(GetParam());
    ASSERT_EQ(f.chdirOk, TAP_Hdd_ChangeDir(c.from));
    EXPECT_EQ(c.worked ? f.chdirOk : f.chdirFail, TAP_Hdd_ChangeDir(c.path)) << c.from << " + " << c.path;
    const char *text = (const char *)table()[slot].CurrentDir[CURRENT_DIR_PATH_WORD];
    EXPECT_STREQ(f.cwdSlash ? c.slashed : c.plain, text) << c.from << " + " << c.path;
    EXPECT_EQ(std::string("TAP_Hdd_ChangeDir \"") + c.path + "\" -> " + std::to_string(c.worked ? f.chdirOk : f.chdirFail),
              lastLine(trace()));
}

INSTANTIATE_TEST_SUITE_P(Cases, HddChangeDir, CASES_EACH_CONVENTION(kChangeDirs, ChangeDirCase));

using HddCalls = EmuTest;

TEST_F(HddCalls, CreateAndExistWorkInTheCurrentFolder) {
    EXPECT_EQ(0, TAP_Hdd_Exist("Settings"));
    TAP_Hdd_Create("Settings", ATTR_FOLDER);
    EXPECT_NE(0, TAP_Hdd_Exist("Settings"));
    ASSERT_EQ(chdirOk(), TAP_Hdd_ChangeDir("Settings"));
    TAP_Hdd_Create("empty.ini", ATTR_FILE);
    EXPECT_NE(0, TAP_Hdd_Exist("/ProgramFiles/Settings/empty.ini"));
    struct stat64 st;
    ASSERT_EQ(0, ::stat64(disk("/ProgramFiles/Settings/empty.ini").c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(0, st.st_size);
    EXPECT_TRUE(fileExists(disk("/ProgramFiles/Settings")));
    std::vector<std::string> t = trace();
    EXPECT_EQ("TAP_Hdd_Create \"Settings\" 224 -> 1", t[1]);
}

TEST_F(HddCalls, EachTapKeepsItsOwnFolder) {
    makeDirs(disk("/DataFiles"));
    int other = emuAttachProgram("/ProgramFiles/Other.tap", "/DataFiles", nullptr);
    ASSERT_GE(other, 0);
    current() = other;
    TAP_Hdd_Create("mine", ATTR_FOLDER);
    current() = slot;
    TAP_Hdd_Create("mine", ATTR_FOLDER);
    EXPECT_TRUE(fileExists(disk("/DataFiles/mine")));
    EXPECT_TRUE(fileExists(disk("/ProgramFiles/mine")));
}

// ---- Events and the end of a TAP -------------------------------------------

int handlerSlotSeen = -1;
dword exitingHandler(word event, dword p1, dword) {
    handlerSlotSeen = current();
    if (event == EVT_KEY && p1 == KEY_EXIT_REMOTE) TAP_Exit();
    return event == EVT_KEY ? 0 : p1;
}

class Events : public EmuTest {
    EmuEventHandler handler() override { return exitingHandler; }
};

TEST_F(Events, DeliveryRunsInTheSlotAndIsTraced) {
    int second = emuAttachProgram("/ProgramFiles/B.tap", nullptr, exitingHandler);
    current() = slot;
    EXPECT_EQ(7u, emuDeliver(second, EVT_IDLE, 7, 8));
    EXPECT_EQ(second, handlerSlotSeen);
    EXPECT_EQ(slot, current());
    EXPECT_EQ("EVENT " + std::to_string(second) + " 0x0 0x7 0x8 -> 0x7", lastLine(trace()));
}

TEST_F(Events, TapExitEndsTheTapWhenItsEventReturns) {
    EXPECT_EQ(0u, emuDeliver(slot, EVT_KEY, KEY_EXIT_REMOTE, 0));
    EXPECT_EQ(0, emuSlotRunning(slot));
    EXPECT_NE((TapWord)TAP_STATE_RUNNING, table()[slot].State);
    EXPECT_EQ(0u, emuDeliver(slot, EVT_KEY, KEY_OK_REMOTE, 0));  // gone: nothing delivered
    emuStop();
    std::vector<std::string> t = trace();
    EXPECT_EQ("SLOT " + std::to_string(slot) + " \"/ProgramFiles/Test.tap\" id 0x00000000 heap 0 dirstack unknown ended by TAP_Exit",
              lastLine(t));
}

TEST_F(Events, StateTwoEndsTheTapAfterTheEvent) {
    int second = emuAttachProgram("/ProgramFiles/B.tap", nullptr, exitingHandler);
    table()[second].State = TAP_STATE_TERMINATE;
    EXPECT_EQ(1, emuSlotRunning(slot));
    emuDeliver(slot, EVT_IDLE, 0, 0);
    EXPECT_EQ(0, emuSlotRunning(second));
    EXPECT_EQ(1, emuSlotRunning(slot));
}

TEST_F(Events, KeyBroadcastStopsAtTheFirstTapThatTakesIt) {
    int second = emuAttachProgram("/ProgramFiles/B.tap", nullptr, exitingHandler);
    size_t before = trace().size();
    emuBroadcast(EVT_KEY, KEY_OK_REMOTE, 0);
    std::vector<std::string> keys = traceFrom(before);
    ASSERT_EQ(1u, keys.size()) << "the resident TAP in slot 0 has no handler to take it";
    EXPECT_EQ("EVENT " + std::to_string(slot) + " 0x100 0x1001E 0x0 -> 0x0", keys[0]);
    emuBroadcast(EVT_IDLE, 0, 0);
    EXPECT_EQ(3u, traceFrom(before).size()) << "idle events reach every TAP with a handler, slot " << second;
}

dword sleepingHandler(word, dword, dword) {
    for (;;) TAP_Sleep(1000);
}

class HungTap : public EmuTest {
    EmuEventHandler handler() override { return sleepingHandler; }
};

TEST_F(HungTap, EndlessSleepEndsTheTapInsteadOfHanging) {
    EXPECT_EQ(0u, emuDeliver(slot, EVT_IDLE, 5, 0));
    EXPECT_EQ(0, emuSlotRunning(slot));
    emuStop();
    std::vector<std::string> t = trace();
    EXPECT_EQ(1000, std::count(t.begin(), t.end(), "TAP_Sleep 1000"));
    EXPECT_NE(std::string::npos, lastLine(t).find("hung in TAP_Sleep"));
}

// ---- Paths: the disk and the console ------------------------------------------

using DiskMapping = EmuTest;

TEST_F(DiskMapping, MountPointReachesTheDiskFolder) {
    int fd = open("/mnt/hd/ProgramFiles/new.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(3, write(fd, "abc", 3));
    close(fd);
    EXPECT_EQ("abc", readFile(disk("/ProgramFiles/new.txt")));
    struct stat64 st;
    ASSERT_EQ(0, lstat64("/mnt/hd/ProgramFiles", &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(0, mkdir("/mnt/hd/ProgramFiles/Settings", 0777));
    EXPECT_TRUE(fileExists(disk("/ProgramFiles/Settings")));
    FILE *f = fopen("/mnt/hd/ProgramFiles/new.txt", "r");
    ASSERT_NE(nullptr, f);
    fclose(f);
    EXPECT_EQ(-1, access("/mnt/hdx", F_OK));  // only the mount point itself maps
}

struct PtsCase {
    const char *what;
    int firstPts;
    int opens;  // first N that opens, -1: none
};

void PrintTo(const PtsCase &c, std::ostream *o) { *o << c.what; }

class ConsoleMapping : public EmuTest, public ::testing::WithParamInterface<PtsCase> {
    void configure(EmuOptions &o) override { o.firstPts = GetParam().firstPts; }
};

TEST_P(ConsoleMapping, FirstOpeningTerminalWritesTheCapture) {
    int opened = -1;
    for (int n = 0; n < 20 && opened < 0; n++) {
        std::string name = "/dev/pts/" + std::to_string(n);
        int fd = open(name.c_str(), O_RDWR);
        if (fd < 0) continue;
        opened = n;
        EXPECT_EQ(4, write(fd, "hi\n\0", 4));
        close(fd);
    }
    EXPECT_EQ(GetParam().opens, opened) << GetParam().what;
    EXPECT_EQ(opened < 0 ? std::string() : std::string("hi\n\0", 4), console()) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Cases, ConsoleMapping,
                         ::testing::ValuesIn(std::vector<PtsCase>{
                             {"default", 0, 0}, {"from 3", 3, 3}, {"none", -1, -1}}));

}  // namespace
