// The installer driven as the firmware drives it: events and keys into
// TAP_EventHandler, checked by its results, its state and the firmware
// calls it makes.
#include <dirent.h>

#include <set>

#include "emutest.h"
#include "installer_screens.h"

#include "Zephyrdesk-Install.h"

namespace {

const dword kBack = KEY_BACK_REMOTE_1;
const dword kForward = 0x10002; // any code not listed as another key
const dword kOk = KEY_OK_REMOTE;
const dword kExit = KEY_EXIT_REMOTE;

// Every file and folder below a host folder, as relative paths.
void listTree(const std::string &root, const std::string &rel, std::set<std::string> &out) {
    DIR *d = opendir((root + rel).c_str());
    if (!d) return;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        out.insert(rel + "/" + name);
        listTree(root, rel + "/" + name, out);
    }
    closedir(d);
}

class Installer : public EmuTest {
protected:
    EmuEventHandler handler() override { return TAP_EventHandler; }
    // The program is the installer: its file on the disk is the genuine
    // installer TAP, so that a confirmed target runs a whole installation.
    void prepareDisk() override { writeFile(disk("/ProgramFiles/Test.tap"), readFile(INSTALLER_TAP)); }

    dword key(dword code) { return emuDeliver(slot, EVT_KEY, code, 0); }
    // Keys in turn; each must be acted on.
    void keys(const std::vector<dword> &codes) {
        for (dword code : codes) ASSERT_EQ(0u, key(code)) << "key 0x" << std::hex << code;
    }
    // The region the language screen created.
    int region() const {
        std::vector<TracedCall> creates = callsNamed(tracedCalls(trace()), "TAP_Osd_Create");
        return creates.empty() ? -1 : atoi(creates[0].result.c_str());
    }
    std::vector<TracedCall> callsFrom(size_t first) const { return tracedCalls(traceFrom(first)); }
    // The calls that end the installer, as the last calls made.
    void expectEnded(const std::vector<TracedCall> &calls) {
        EXPECT_FALSE(emuSlotRunning(slot));
        std::vector<std::string> names;
        for (const TracedCall &c : calls)
            if (c.name.compare(0, 8, "TAP_Osd_") == 0 || c.name.compare(0, 8, "TAP_Exit") == 0 ||
                c.name == "TAP_EnterNormal")
                names.push_back(c.text());
        std::vector<std::string> tail = {"TAP_Osd_Delete " + std::to_string(region()), "TAP_Osd_Sync",
                                         "TAP_EnterNormal", "TAP_Exit"};
        ASSERT_GE(names.size(), tail.size());
        EXPECT_EQ(tail, std::vector<std::string>(names.end() - tail.size(), names.end()));
        EXPECT_EQ("TAP_Exit", calls.back().name) << "TAP_Exit is the last call";
    }
};

// ---- The key map, on the English language screen ----------------------

enum class Effect { Exit, Confirm, Back, Forward, HandedBack };

struct KeyCase {
    const char *name;
    dword code;
    Effect effect;
};

const KeyCase kKeys[] = {
    {"ExitRemote", 0x10017, Effect::Exit},
    {"ExitPanel", 0x6, Effect::Exit},
    {"OkRemote", 0x1001E, Effect::Confirm},
    {"OkPanel", 0x5, Effect::Confirm},
    {"Back1000F", 0x1000F, Effect::Back},
    {"Back10012", 0x10012, Effect::Back},
    {"Back10045", 0x10045, Effect::Back},
    {"Back10047", 0x10047, Effect::Back},
    {"Back1", 0x1, Effect::Back},
    {"Back3", 0x3, Effect::Back},
    {"Forward0", 0x0, Effect::Forward},
    {"Forward2", 0x2, Effect::Forward},
    {"Forward4", 0x4, Effect::Forward},
    {"Forward7", 0x7, Effect::Forward},
    {"Forward10000", 0x10000, Effect::Forward},
    {"Forward10016", 0x10016, Effect::Forward},
    {"Forward10018", 0x10018, Effect::Forward},
    {"Forward1001F", 0x1001F, Effect::Forward},
    {"Forward1FFFFFF", 0x1FFFFFF, Effect::Forward},
    {"NoKey2000000", 0x2000000, Effect::HandedBack},
    {"NoKey2000001", 0x2000001, Effect::HandedBack},
    {"NoKey80000000", 0x80000000u, Effect::HandedBack},
    {"NoKeyFFFFFFFF", 0xFFFFFFFFu, Effect::HandedBack},
};

class KeyMap : public Installer, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyMap, KeyActsByItsGroup) {
    const KeyCase &k = GetParam();
    ASSERT_EQ(0x1234u, emuDeliver(slot, EVT_IDLE, 0x1234, 0));
    size_t from = trace().size();
    dword result = key(k.code);
    std::vector<TracedCall> calls = callsFrom(from);
    switch (k.effect) {
    case Effect::Exit:
        EXPECT_EQ(0u, result) << k.name;
        expectEnded(calls);
        break;
    case Effect::Confirm:
        EXPECT_EQ(0u, result) << k.name;
        EXPECT_EQ(STEP_TARGET, gInstallStep) << k.name;
        EXPECT_EQ(targetPage(region(), LANG_EN, OPTION_EXIT), osdCalls(calls)) << k.name;
        break;
    case Effect::Back:
    case Effect::Forward: {
        int language = k.effect == Effect::Back ? LANG_FR : LANG_DE;
        EXPECT_EQ(0u, result) << k.name;
        EXPECT_EQ(language, gLanguage) << k.name;
        EXPECT_EQ(languagePage(region(), language, false), osdCalls(calls)) << k.name;
        break;
    }
    case Effect::HandedBack:
        EXPECT_EQ(k.code, result) << k.name;
        EXPECT_TRUE(calls.empty()) << k.name << " made " << calls.size() << " calls";
        EXPECT_EQ(LANG_EN, gLanguage);
        EXPECT_EQ(STEP_LANGUAGE, gInstallStep);
        EXPECT_TRUE(emuSlotRunning(slot));
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, KeyMap, ::testing::ValuesIn(kKeys),
                         [](const ::testing::TestParamInfo<KeyCase> &info) { return info.param.name; });

// ---- Events that are no keys ------------------------------------------

struct EventCase {
    const char *name;
    word event;
    dword p1;
};

const EventCase kEvents[] = {
    {"Idle", EVT_IDLE, 0},
    {"IdleWithParameter", EVT_IDLE, 0xCAFE},
    {"Stop", EVT_STOP, 1},
    {"OtherEventCarryingOkCode", 0x0101, KEY_OK_REMOTE},
    {"OtherEventCarryingExitCode", 0x0200, KEY_EXIT_REMOTE},
};

class OtherEvent : public Installer, public ::testing::WithParamInterface<EventCase> {};

TEST_P(OtherEvent, IsHandedBackWithoutEffect) {
    const EventCase &e = GetParam();
    ASSERT_EQ(0u, key(kForward)); // German
    size_t from = trace().size();
    EXPECT_EQ(e.p1, emuDeliver(slot, e.event, e.p1, 7)) << e.name;
    EXPECT_TRUE(callsFrom(from).empty()) << e.name;
    EXPECT_EQ(LANG_DE, gLanguage);
    EXPECT_EQ(STEP_LANGUAGE, gInstallStep);
    EXPECT_TRUE(emuSlotRunning(slot));
}

INSTANTIATE_TEST_SUITE_P(Events, OtherEvent, ::testing::ValuesIn(kEvents),
                         [](const ::testing::TestParamInfo<EventCase> &info) { return info.param.name; });

// ---- The first event -------------------------------------------------

using FirstEvent = Installer;

TEST_F(FirstEvent, ConfirmKeyShowsLanguageThenTargetScreen) {
    size_t from = trace().size();
    EXPECT_EQ(0u, key(kOk));
    int r = region();
    ASSERT_GT(r, 0);
    std::vector<std::string> expected = {"TAP_ExitNormal"};
    for (const std::string &c : languagePage(r, LANG_EN, true)) expected.push_back(c);
    for (const std::string &c : targetPage(r, LANG_EN, OPTION_EXIT)) expected.push_back(c);
    EXPECT_EQ(expected, osdCalls(callsFrom(from)));
    EXPECT_EQ(STEP_TARGET, gInstallStep);
    EXPECT_EQ(OPTION_EXIT, selectedOption);
}

TEST_F(FirstEvent, NonKeyEventShowsLanguageScreenAndIsHandedBack) {
    size_t from = trace().size();
    EXPECT_EQ(0xABCDu, emuDeliver(slot, EVT_IDLE, 0xABCD, 0));
    int r = region();
    ASSERT_GT(r, 0);
    std::vector<std::string> expected = {"TAP_ExitNormal"};
    for (const std::string &c : languagePage(r, LANG_EN, true)) expected.push_back(c);
    EXPECT_EQ(expected, osdCalls(callsFrom(from)));
    EXPECT_EQ(STEP_LANGUAGE, gInstallStep);
    // The set-up runs once: a second event draws nothing.
    size_t second = trace().size();
    EXPECT_EQ(5u, emuDeliver(slot, EVT_IDLE, 5, 0));
    EXPECT_TRUE(callsFrom(second).empty());
}

TEST_F(FirstEvent, ExitKeyShowsLanguageScreenThenEnds) {
    size_t from = trace().size();
    EXPECT_EQ(0u, key(KEY_EXIT_PANEL));
    std::vector<TracedCall> calls = callsFrom(from);
    ASSERT_FALSE(callsNamed(calls, "TAP_Osd_Create").empty());
    expectEnded(calls);
}

TEST_F(FirstEvent, PresetsExitOnTargetScreen) {
    selectedOption = OPTION_AUTOSTART; // whatever it held before
    keys({kOk});
    EXPECT_EQ(OPTION_EXIT, selectedOption);
}

// ---- Moving the selection, with wrap-around ---------------------------

struct MoveCase {
    const char *name;
    std::vector<dword> keys;
    int step, language, option;
};

const MoveCase kMoves[] = {
    {"BackOnEnglishSelectsFrench", {kBack}, STEP_LANGUAGE, LANG_FR, OPTION_EXIT},
    {"ForwardOnFrenchSelectsEnglish", {kBack, kForward}, STEP_LANGUAGE, LANG_EN, OPTION_EXIT},
    {"ForwardOnEnglishSelectsGerman", {kForward}, STEP_LANGUAGE, LANG_DE, OPTION_EXIT},
    {"ForwardTwiceSelectsDutch", {kForward, kForward}, STEP_LANGUAGE, LANG_NL, OPTION_EXIT},
    {"FourForwardComeBackToEnglish", {kForward, kForward, kForward, kForward}, STEP_LANGUAGE, LANG_EN,
     OPTION_EXIT},
    {"BackTwiceSelectsDutch", {kBack, kBack}, STEP_LANGUAGE, LANG_NL, OPTION_EXIT},
    {"ForwardOnExitSelectsAutoStart", {kOk, kForward}, STEP_TARGET, LANG_EN, OPTION_AUTOSTART},
    {"BackOnAutoStartSelectsExit", {kOk, kForward, kBack}, STEP_TARGET, LANG_EN, OPTION_EXIT},
    {"BackOnExitSelectsProgramFiles", {kOk, kBack}, STEP_TARGET, LANG_EN, OPTION_PROGRAMFILES},
    {"ForwardOnProgramFilesSelectsExit", {kOk, kBack, kForward}, STEP_TARGET, LANG_EN, OPTION_EXIT},
    {"ForwardOnAutoStartSelectsProgramFiles", {kOk, kForward, kForward}, STEP_TARGET, LANG_EN,
     OPTION_PROGRAMFILES},
    {"TargetScreenInChosenLanguage", {kBack, kOk, kBack}, STEP_TARGET, LANG_FR, OPTION_PROGRAMFILES},
    {"GermanTargetScreen", {kForward, kOk}, STEP_TARGET, LANG_DE, OPTION_EXIT},
};

class Selection : public Installer, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(Selection, MovesAndRedrawsWholePage) {
    const MoveCase &m = GetParam();
    ASSERT_EQ(0u, emuDeliver(slot, EVT_IDLE, 0, 0));
    size_t last = 0;
    for (dword code : m.keys) {
        last = trace().size();
        ASSERT_EQ(0u, key(code)) << m.name;
    }
    EXPECT_EQ(m.step, gInstallStep) << m.name;
    EXPECT_EQ(m.language, gLanguage) << m.name;
    EXPECT_EQ(m.option, selectedOption) << m.name;
    std::vector<std::string> expected = m.step == STEP_LANGUAGE ? languagePage(region(), m.language, false)
                                                                : targetPage(region(), m.language, m.option);
    EXPECT_EQ(expected, osdCalls(callsFrom(last))) << m.name;
}

INSTANTIATE_TEST_SUITE_P(Keys, Selection, ::testing::ValuesIn(kMoves),
                         [](const ::testing::TestParamInfo<MoveCase> &info) { return info.param.name; });

// ---- Leaving before any installation ---------------------------------

struct LeaveCase {
    const char *name;
    std::vector<dword> keys;
};

const LeaveCase kLeaves[] = {
    {"ConfirmPresetExit", {kOk, kOk}},
    {"ConfirmExitAfterMoving", {kOk, kBack, kForward, KEY_OK_PANEL}},
    {"ConfirmExitAfterWrapping", {kOk, kForward, kForward, kForward, kOk}},
    {"ExitKeyOnTargetScreen", {kOk, kForward, kExit}},
    {"PanelExitOnTargetScreen", {kOk, KEY_EXIT_PANEL}},
    {"ExitKeyOnLanguageScreen", {kBack, kExit}},
};

class Leave : public Installer, public ::testing::WithParamInterface<LeaveCase> {};

TEST_P(Leave, EndsTapWithoutWritingToDisk) {
    const LeaveCase &l = GetParam();
    std::set<std::string> before, after;
    listTree(diskDir, "", before);
    size_t from = trace().size();
    keys(l.keys);
    std::vector<TracedCall> calls = callsFrom(from);
    expectEnded(calls);
    EXPECT_NE(STEP_INSTALL, gInstallStep) << l.name;
    EXPECT_TRUE(callsNamed(calls, "TAP_Hdd_Create").empty()) << l.name;
    listTree(diskDir, "", after);
    EXPECT_EQ(before, after) << l.name;
    EXPECT_FALSE(fileExists(disk("/ProgramFiles/Settings"))) << l.name;
}

INSTANTIATE_TEST_SUITE_P(Keys, Leave, ::testing::ValuesIn(kLeaves),
                         [](const ::testing::TestParamInfo<LeaveCase> &info) { return info.param.name; });

// ---- The receiver's language -----------------------------------------

struct LanguageCase {
    const char *name;
    int setting, language;
};

const LanguageCase kLanguages[] = {
    {"English0", 0, LANG_EN},  {"French1", 1, LANG_FR},        {"German2", 2, LANG_DE},
    {"Dutch11", 11, LANG_NL},  {"Unknown3", 3, LANG_EN},       {"Unknown10", 10, LANG_EN},
    {"Unknown12", 12, LANG_EN}, {"NegativeMinus1", -1, LANG_EN},
};

class DefaultLanguage : public Installer, public ::testing::WithParamInterface<LanguageCase> {
protected:
    void configure(EmuOptions &o) override { o.language = GetParam().setting; }
};

TEST_P(DefaultLanguage, FirstScreenInReceiverLanguage) {
    const LanguageCase &c = GetParam();
    size_t from = trace().size();
    ASSERT_EQ(0u, emuDeliver(slot, EVT_IDLE, 0, 0));
    EXPECT_EQ(c.language, gLanguage) << c.name;
    std::vector<std::string> expected = {"TAP_ExitNormal"};
    for (const std::string &s : languagePage(region(), c.language, true)) expected.push_back(s);
    EXPECT_EQ(expected, osdCalls(callsFrom(from))) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Settings, DefaultLanguage, ::testing::ValuesIn(kLanguages),
                         [](const ::testing::TestParamInfo<LanguageCase> &info) { return info.param.name; });

// ---- The install screen -------------------------------------------------

struct TargetCase {
    const char *name;
    std::vector<dword> keys;
};

const TargetCase kTargets[] = {
    {"AutoStart", {kOk, kForward, kOk}},
    {"ProgramFiles", {kOk, kBack, KEY_OK_PANEL}},
};

class ConfirmTarget : public Installer, public ::testing::WithParamInterface<TargetCase> {};

// The empty install screen comes first, then the run, which ends on the
// finished screen with the keys given back.
TEST_P(ConfirmTarget, ShowsEmptyInstallScreenThenRuns) {
    const TargetCase &t = GetParam();
    ASSERT_EQ(0u, emuDeliver(slot, EVT_IDLE, 0, 0));
    size_t last = 0;
    for (dword code : t.keys) {
        last = trace().size();
        ASSERT_EQ(0u, key(code)) << t.name;
    }
    EXPECT_EQ(STEP_INSTALL, gInstallStep);
    std::vector<std::string> empty = installPage(region(), LANG_EN, 0, false);
    std::vector<std::string> finished = installPage(region(), LANG_EN, 356, true);
    std::vector<std::string> drawn = osdCalls(callsFrom(last));
    ASSERT_GE(drawn.size(), empty.size() + finished.size()) << t.name;
    EXPECT_EQ(empty, std::vector<std::string>(drawn.begin(), drawn.begin() + empty.size())) << t.name;
    EXPECT_EQ(finished, std::vector<std::string>(drawn.end() - finished.size(), drawn.end())) << t.name;
    EXPECT_EQ(0, ignoreKeys);
    EXPECT_EQ(OPTION_EXIT, selectedOption);
    EXPECT_TRUE(emuSlotRunning(slot));
}

INSTANTIATE_TEST_SUITE_P(Targets, ConfirmTarget, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<TargetCase> &info) { return info.param.name; });

struct InstallKeyCase {
    const char *name;
    dword code;
    bool running;     // an installation run is in progress
    bool ends;        // the key ends the installer
    bool handedBack;  // the result is the key code, not 0
};

const InstallKeyCase kInstallKeys[] = {
    {"FinishedBackConsumed", kBack, false, false, false},
    {"FinishedPanelBackConsumed", KEY_BACK_PANEL_2, false, false, false},
    {"FinishedForwardConsumed", kForward, false, false, false},
    {"FinishedForward4Consumed", 0x4, false, false, false},
    {"FinishedNoKeyHandedBack", 0x2000000, false, false, true},
    {"FinishedOkEnds", kOk, false, true, false},
    {"FinishedPanelOkEnds", KEY_OK_PANEL, false, true, false},
    {"FinishedExitEnds", kExit, false, true, false},
    {"FinishedPanelExitEnds", KEY_EXIT_PANEL, false, true, false},
    {"RunningBackHandedBack", kBack, true, false, true},
    {"RunningForwardHandedBack", kForward, true, false, true},
    {"RunningOkHandedBack", kOk, true, false, true},
    {"RunningPanelOkHandedBack", KEY_OK_PANEL, true, false, true},
    {"RunningExitEnds", kExit, true, true, false},
    {"RunningPanelExitEnds", KEY_EXIT_PANEL, true, true, false},
};

class InstallScreen : public Installer, public ::testing::WithParamInterface<InstallKeyCase> {};

TEST_P(InstallScreen, KeyOnInstallScreen) {
    const InstallKeyCase &c = GetParam();
    keys({kOk, kForward, kOk});
    ASSERT_EQ(STEP_INSTALL, gInstallStep);
    if (c.running) {
        ignoreKeys = 1;
        drawScreenInstall(40, 100, 0);
    } else {
        selectedOption = OPTION_EXIT;
        drawScreenInstall(100, 100, 1);
    }
    int option = selectedOption;
    size_t from = trace().size();
    dword result = key(c.code);
    std::vector<TracedCall> calls = callsFrom(from);
    EXPECT_EQ(c.handedBack ? c.code : 0u, result) << c.name;
    if (c.ends) {
        expectEnded(calls);
    } else {
        EXPECT_TRUE(calls.empty()) << c.name << " made " << calls.size() << " calls";
        EXPECT_TRUE(emuSlotRunning(slot)) << c.name;
        EXPECT_EQ(STEP_INSTALL, gInstallStep) << c.name;
        EXPECT_EQ(option, selectedOption) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, InstallScreen, ::testing::ValuesIn(kInstallKeys),
                         [](const ::testing::TestParamInfo<InstallKeyCase> &info) { return info.param.name; });

// ---- Ending while a run still has drawing to do -----------------------

using ExitRoutine = Installer;

TEST_F(ExitRoutine, NothingIsDrawnOnDeletedRegion) {
    keys({kOk, kForward, kOk});
    ignoreKeys = 1; // the run is in progress when the exit key arrives
    size_t from = trace().size();
    ASSERT_EQ(0u, key(kExit));
    expectEnded(callsFrom(from));
    // What the run would still draw, and a second way out, reach no region.
    size_t after = trace().size();
    drawScreenInstall(60, 100, 0);
    drawScreenInstall(100, 100, 1);
    drawScreenTarget(OPTION_EXIT);
    drawScreenLng();
    exitRoutine();
    EXPECT_EQ(kOk, TAP_EventHandler(EVT_KEY, kOk, 0));
    EXPECT_TRUE(callsFrom(after).empty()) << callsFrom(after).front().text();
    EXPECT_EQ(1u, callsNamed(tracedCalls(trace()), "TAP_Osd_Delete").size());
}

TEST_F(ExitRoutine, WithoutRegionStillGivesScreenBack) {
    // The run ends this way when it cannot find itself; here no page has
    // been drawn at all.
    size_t from = trace().size();
    exitRoutine();
    std::vector<std::string> expected = {"TAP_Osd_Sync", "TAP_EnterNormal", "TAP_Exit"};
    std::vector<std::string> got;
    for (const TracedCall &c : callsFrom(from)) got.push_back(c.text());
    EXPECT_EQ(expected, got);
}

} // namespace
