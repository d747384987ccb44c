// Firmware symbols, the task table and the library's initialisation,
// against the stand-in firmware's exports and its task table.
#include <string.h>

#include <string>
#include <vector>

#include "emutest.h"
#include "support/velalib.h"

namespace {

using Accessor = void *(*)();

void *taskTable() { return FIS_vTAPTable(); }
void *currentSlot() { return FIS_vCurTapTask(); }
void *timeToLinux() { return FIS_fwTimeToLinux(); }
void *utf8Repair() { return FIS_fwAppl_ConvertToValidUTF8Str(); }

struct Symbol {
    const char *label;
    Accessor accessor;
    const char *name;
};

const std::vector<Symbol> kSymbols = {
    {"TaskTable", taskTable, "_tapTask"},
    {"CurrentSlot", currentSlot, "_curTapTask"},
    {"TimeToLinux", timeToLinux, "PvrTimeToLinux"},
    {"Utf8Repair", utf8Repair, "_Z26Appl_ConvertToValidUTF8StrPhi"},
};

std::ostream &operator<<(std::ostream &o, const Symbol &s) { return o << s.name; }

std::string symbolLabel(const ::testing::TestParamInfo<Symbol> &info) { return info.param.label; }

// The receiver runs UTF-8 firmware, so that all four symbols exist.
class FirmwareSymbol : public EmuTest, public ::testing::WithParamInterface<Symbol> {
protected:
    void configure(EmuOptions &o) override { o.utf8Firmware = 1; }
};

TEST_P(FirmwareSymbol, FoundAddressIsLookedUpOnce) {
    const Symbol &s = GetParam();
    void *first = s.accessor();
    ASSERT_NE(nullptr, first) << s.name;
    for (int i = 0; i < 4; i++) EXPECT_EQ(first, s.accessor()) << s.name;
    EXPECT_EQ(1u, emuLookupCount(s.name)) << s.name;
}

TEST_P(FirmwareSymbol, TryResolveFindsItEveryTime) {
    const Symbol &s = GetParam();
    void *address = TryResolve(s.name);
    EXPECT_NE(nullptr, address) << s.name;
    EXPECT_EQ(address, TryResolve(s.name)) << s.name;
    EXPECT_EQ(2u, emuLookupCount(s.name)) << s.name;
}

TEST_P(FirmwareSymbol, MissingSymbolIsLookedUpAgainUntilFound) {
    const Symbol &s = GetParam();
    emuHideSymbol(s.name, 1);
    EXPECT_EQ(nullptr, s.accessor()) << s.name;
    EXPECT_EQ(nullptr, s.accessor()) << s.name;
    EXPECT_EQ(2u, emuLookupCount(s.name)) << s.name;
    emuHideSymbol(s.name, 0);
    void *found = s.accessor();
    EXPECT_NE(nullptr, found) << s.name;
    EXPECT_EQ(found, s.accessor()) << s.name;
    EXPECT_EQ(3u, emuLookupCount(s.name)) << s.name;
}

INSTANTIATE_TEST_SUITE_P(All, FirmwareSymbol, ::testing::ValuesIn(kSymbols), symbolLabel);

using TryResolveTest = EmuTest;

TEST_F(TryResolveTest, UnknownNameGivesNull) {
    EXPECT_EQ(nullptr, TryResolve("_noSuchFirmwareSymbol"));
    EXPECT_EQ(nullptr, TryResolve(""));
}

TEST_F(TryResolveTest, NullNameGivesNull) { EXPECT_EQ(nullptr, TryResolve(nullptr)); }

TEST_F(TryResolveTest, ErrorOfEarlierLookupDoesNotSpoilTheNext) {
    EXPECT_EQ(nullptr, TryResolve("_noSuchFirmwareSymbol"));
    EXPECT_NE(nullptr, TryResolve("_tapTask"));
}

// The UTF-8 routine exists only on UTF-8 firmware: a receiver without it
// and then, in the same life of the TAP, one with it.
using Utf8RepairRoutine = EmuTest;

TEST_F(Utf8RepairRoutine, AbsentOnOtherFirmwareAndFoundLater) {
    const char *name = "_Z26Appl_ConvertToValidUTF8StrPhi";
    EXPECT_EQ(nullptr, FIS_fwAppl_ConvertToValidUTF8Str());
    EXPECT_EQ(nullptr, FIS_fwAppl_ConvertToValidUTF8Str());
    EXPECT_EQ(2u, emuLookupCount(name));

    emuStop();
    options.utf8Firmware = 1;
    char err[256] = "";
    ASSERT_EQ(1, emuStart(&options, err, sizeof err)) << err;
    ASSERT_GE(emuAttachProgram("/ProgramFiles/Test.tap", "/ProgramFiles", nullptr), 0);

    void *found = FIS_fwAppl_ConvertToValidUTF8Str();
    EXPECT_NE(nullptr, found);
    EXPECT_EQ(found, FIS_fwAppl_ConvertToValidUTF8Str());
    EXPECT_EQ(1u, emuLookupCount(name));
}

// The task table and the current-slot variable as the firmware keeps them.
using TaskTable = EmuTest;

TEST_F(TaskTable, CurrentSlotFollowsTheFirmware) {
    int second = emuAttachProgram("/ProgramFiles/Other.tap", "/ProgramFiles", nullptr);
    ASSERT_GE(second, 0);
    ASSERT_NE(slot, second);
    int *current = FIS_vCurTapTask();
    ASSERT_NE(nullptr, current);
    EXPECT_EQ(second, *current);
    EXPECT_EQ(1u, emuLookupCount("_curTapTask"));
}

// The file name of the TAP in a slot.
class HddTapGetFileNameByIndex : public EmuTest {
protected:
    char sentinel[8] = "unset";
    char *name = sentinel;
};

TEST_F(HddTapGetFileNameByIndex, OwnSlotGivesTheFirmwaresPath) {
    ASSERT_EQ(1, HDD_TAP_GetFileNameByIndex(slot, &name));
    ASSERT_NE(nullptr, name);
    EXPECT_STREQ("/mnt/hd/ProgramFiles/Test.tap", name);
    // Not a copy: the very string of the firmware's path record.
    TapWord *record = (TapWord *)FIS_vTAPTable()[slot].File[FILE_OBJECT_PATH_RECORD_WORD];
    EXPECT_EQ((char *)record[PATH_RECORD_PATH_WORD], name);
}

TEST_F(HddTapGetFileNameByIndex, EachSlotGivesItsOwnTap) {
    int second = emuAttachProgram("/ProgramFiles/Other.tap", "/ProgramFiles", nullptr);
    ASSERT_GE(second, 0);
    char *other = nullptr;
    ASSERT_EQ(1, HDD_TAP_GetFileNameByIndex(slot, &name));
    ASSERT_EQ(1, HDD_TAP_GetFileNameByIndex(second, &other));
    EXPECT_STREQ("/mnt/hd/ProgramFiles/Test.tap", name);
    EXPECT_STREQ("/mnt/hd/ProgramFiles/Other.tap", other);
}

TEST_F(HddTapGetFileNameByIndex, FreeSlotGivesNothing) {
    TapTaskEntry *table = FIS_vTAPTable();
    ASSERT_NE(nullptr, table);
    for (unsigned i = 0; i < TAP_TASK_SLOTS; i++) {
        if (emuSlotRunning(i)) continue;
        EXPECT_EQ(0, HDD_TAP_GetFileNameByIndex(i, &name)) << "slot " << i;
        EXPECT_EQ(sentinel, name) << "slot " << i;
    }
}

TEST_F(HddTapGetFileNameByIndex, NoOutPointerGivesZero) {
    EXPECT_EQ(0, HDD_TAP_GetFileNameByIndex(slot, nullptr));
    EXPECT_EQ(0, HDD_TAP_GetFileNameByIndex(16, nullptr));
}

TEST_F(HddTapGetFileNameByIndex, MissingTaskTableGivesZero) {
    emuHideSymbol("_tapTask", 1);
    EXPECT_EQ(0, HDD_TAP_GetFileNameByIndex(slot, &name));
    EXPECT_EQ(sentinel, name);
    emuHideSymbol("_tapTask", 0);
    EXPECT_EQ(1, HDD_TAP_GetFileNameByIndex(slot, &name));
}

class IndexOutOfRange : public HddTapGetFileNameByIndex, public ::testing::WithParamInterface<unsigned> {};

TEST_P(IndexOutOfRange, StoresNullAndGivesZero) {
    EXPECT_EQ(0, HDD_TAP_GetFileNameByIndex(GetParam(), &name)) << "index " << GetParam();
    EXPECT_EQ(nullptr, name) << "index " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(HddTapGetFileNameByIndex, IndexOutOfRange,
                         ::testing::Values(16u, 17u, 255u, 0x80000000u, 0xFFFFFFFFu));

// A slot's records changed in place, one fault at a time; the firmware's
// values are put back before the receiver stops.
struct SlotFault {
    const char *label;
    void (*apply)(TapTaskEntry &entry, std::vector<TapWord> &saved);
    void (*undo)(TapTaskEntry &entry, const std::vector<TapWord> &saved);
};

TapWord *pathRecordOf(TapTaskEntry &e) { return (TapWord *)e.File[FILE_OBJECT_PATH_RECORD_WORD]; }

void saveState(TapTaskEntry &e, std::vector<TapWord> &s) { s.push_back(e.State); }
void restoreState(TapTaskEntry &e, const std::vector<TapWord> &s) { e.State = s[0]; }

const std::vector<SlotFault> kSlotFaults = {
    {"StateZero", [](TapTaskEntry &e, std::vector<TapWord> &s) { saveState(e, s); e.State = 0; }, restoreState},
    {"StateTerminate", [](TapTaskEntry &e, std::vector<TapWord> &s) { saveState(e, s); e.State = TAP_STATE_TERMINATE; },
     restoreState},
    {"StateThree", [](TapTaskEntry &e, std::vector<TapWord> &s) { saveState(e, s); e.State = 3; }, restoreState},
    {"NoFileObject",
     [](TapTaskEntry &e, std::vector<TapWord> &s) { s.push_back((TapWord)e.File); e.File = nullptr; },
     [](TapTaskEntry &e, const std::vector<TapWord> &s) { e.File = (TapWord *)s[0]; }},
    {"NoPathRecord",
     [](TapTaskEntry &e, std::vector<TapWord> &s) {
         s.push_back(e.File[FILE_OBJECT_PATH_RECORD_WORD]);
         e.File[FILE_OBJECT_PATH_RECORD_WORD] = 0;
     },
     [](TapTaskEntry &e, const std::vector<TapWord> &s) { e.File[FILE_OBJECT_PATH_RECORD_WORD] = s[0]; }},
    {"WrongMagic",
     [](TapTaskEntry &e, std::vector<TapWord> &s) {
         s.push_back(pathRecordOf(e)[0]);
         pathRecordOf(e)[0] = 0xCDACEDAE;
     },
     [](TapTaskEntry &e, const std::vector<TapWord> &s) { pathRecordOf(e)[0] = s[0]; }},
    {"NoPath",
     [](TapTaskEntry &e, std::vector<TapWord> &s) {
         s.push_back(pathRecordOf(e)[PATH_RECORD_PATH_WORD]);
         pathRecordOf(e)[PATH_RECORD_PATH_WORD] = 0;
     },
     [](TapTaskEntry &e, const std::vector<TapWord> &s) { pathRecordOf(e)[PATH_RECORD_PATH_WORD] = s[0]; }},
};

std::ostream &operator<<(std::ostream &o, const SlotFault &f) { return o << f.label; }

class BrokenSlot : public HddTapGetFileNameByIndex, public ::testing::WithParamInterface<SlotFault> {};

TEST_P(BrokenSlot, GivesNoFileNameAndLeavesTargetAlone) {
    TapTaskEntry *table = FIS_vTAPTable();
    ASSERT_NE(nullptr, table);
    ASSERT_EQ(1, HDD_TAP_GetFileNameByIndex(slot, &name)) << "the intact slot first";
    char *before = name;
    std::vector<TapWord> saved;
    GetParam().apply(table[slot], saved);
    int result = HDD_TAP_GetFileNameByIndex(slot, &name);
    GetParam().undo(table[slot], saved);
    EXPECT_EQ(0, result) << GetParam().label;
    EXPECT_EQ(before, name) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(HddTapGetFileNameByIndex, BrokenSlot, ::testing::ValuesIn(kSlotFaults),
                         [](const ::testing::TestParamInfo<SlotFault> &i) { return std::string(i.param.label); });

// The library's one-time initialisation.
class InitTapEx : public EmuTest {
protected:
    size_t versionCalls() const {
        size_t n = 0;
        for (const std::string &line : trace())
            if (line.rfind("TAP_GetVersion", 0) == 0) n++;
        return n;
    }
};

TEST_F(InitTapEx, RecordsVersionAndOwnSlot) {
    EXPECT_EQ(0, LibInitialized);
    EXPECT_EQ(-1, TAP_TableIndex);
    EXPECT_EQ(1, InitTAPex());
    EXPECT_EQ(1, LibInitialized);
    ASSERT_NE(0, slot) << "another TAP holds slot 0";
    EXPECT_EQ(slot, TAP_TableIndex);
    // the firmware answers 0x0012ABCD; the library keeps the low 16 bits
    EXPECT_EQ(0xABCDu, ApplID);
}

TEST_F(InitTapEx, SecondCallDoesNothing) {
    size_t before = versionCalls();
    EXPECT_EQ(1, InitTAPex());
    EXPECT_EQ(before + 1, versionCalls());
    int second = emuAttachProgram("/ProgramFiles/Other.tap", "/ProgramFiles", nullptr);
    ASSERT_GE(second, 0);
    EXPECT_EQ(1, InitTAPex());
    EXPECT_EQ(before + 1, versionCalls());
    EXPECT_EQ(slot, TAP_TableIndex);
}

TEST_F(InitTapEx, WithoutCurrentSlotVariableSlotStaysUnknown) {
    emuHideSymbol("_curTapTask", 1);
    EXPECT_EQ(1, InitTAPex());
    EXPECT_EQ(1, LibInitialized);
    EXPECT_EQ(-1, TAP_TableIndex);
    EXPECT_EQ(0xABCDu, ApplID);
}

}  // namespace
