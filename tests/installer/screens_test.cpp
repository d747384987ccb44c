// The installer's pages as the firmware receives them: every page in
// every language against the layout, the selected buttons' gradient and
// the progress bar, on the stand-in firmware's OSD.
#include "emutest.h"
#include "installer_screens.h"

#include "Zephyrdesk-Install.h"

namespace {

// Draws the language screen (which creates the region) and returns the
// region handle that the firmware gave out.
int openScreen(const std::vector<std::string> &traced) {
    std::vector<TracedCall> creates = callsNamed(tracedCalls(traced), "TAP_Osd_Create");
    if (creates.size() != 1) return -1;
    return atoi(creates[0].result.c_str());
}

enum class Page { Language, TargetAutoStart, TargetProgramFiles, TargetExit, InstallEmpty, InstallComplete };

struct PageCase {
    const char *name;
    Page page;
};

const PageCase kPages[] = {
    {"Language", Page::Language},
    {"TargetAutoStart", Page::TargetAutoStart},
    {"TargetProgramFiles", Page::TargetProgramFiles},
    {"TargetExit", Page::TargetExit},
    {"InstallEmpty", Page::InstallEmpty},
    {"InstallComplete", Page::InstallComplete},
};

class DrawPage : public EmuTest, public ::testing::WithParamInterface<std::tuple<int, PageCase>> {};

TEST_P(DrawPage, MatchesLayoutInLanguage) {
    int language = std::get<0>(GetParam());
    PageCase pc = std::get<1>(GetParam());
    gLanguage = language;
    size_t start = trace().size();
    drawScreenLng();
    std::vector<std::string> lng = traceFrom(start);
    int region = openScreen(lng);
    ASSERT_GT(region, 0) << "the language screen creates one region";
    if (pc.page == Page::Language) {
        EXPECT_EQ(languagePage(region, language, true), osdCalls(tracedCalls(lng)));
        size_t again = trace().size();
        drawScreenLng();
        EXPECT_EQ(languagePage(region, language, false), osdCalls(tracedCalls(traceFrom(again))))
            << "a second drawing reuses the region";
        return;
    }
    size_t from = trace().size();
    std::vector<std::string> expected;
    switch (pc.page) {
    case Page::TargetAutoStart: drawScreenTarget(0), expected = targetPage(region, language, 0); break;
    case Page::TargetProgramFiles: drawScreenTarget(1), expected = targetPage(region, language, 1); break;
    case Page::TargetExit: drawScreenTarget(2), expected = targetPage(region, language, 2); break;
    case Page::InstallEmpty: drawScreenInstall(0, 0, 0), expected = installPage(region, language, 0, false); break;
    case Page::InstallComplete:
        drawScreenInstall(100, 100, 1), expected = installPage(region, language, 356, true);
        break;
    default: break;
    }
    EXPECT_EQ(expected, osdCalls(tracedCalls(traceFrom(from))))
        << pc.name << " in " << screenTexts()[language].language;
}

INSTANTIATE_TEST_SUITE_P(EveryLanguage, DrawPage,
                         ::testing::Combine(::testing::Range(0, 4), ::testing::ValuesIn(kPages)),
                         [](const ::testing::TestParamInfo<DrawPage::ParamType> &info) {
                             return std::string(screenTexts()[std::get<0>(info.param)].language) +
                                    std::get<1>(info.param).name;
                         });

// A selected button on each page where one appears.
struct ButtonCase {
    const char *name;
    int x, y, width;
    void (*draw)();
};

const ButtonCase kSelectedButtons[] = {
    {"LanguageEnglish", 170, 355, 80, [] { drawScreenLng(); }},
    {"LanguageFrench", 470, 355, 80, [] { gLanguage = LANG_FR, drawScreenLng(); }},
    {"TargetProgramFiles", 260, 340, 220, [] { drawScreenTarget(OPTION_PROGRAMFILES); }},
    {"TargetExit", 260, 385, 220, [] { drawScreenTarget(OPTION_EXIT); }},
    {"InstallComplete", 300, 310, 122, [] { drawScreenInstall(100, 100, 1); }},
};

class SelectedButton : public EmuTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(SelectedButton, FifteenFillsShadeFromEdgesToMiddle) {
    const ButtonCase &b = GetParam();
    size_t start = trace().size();
    drawScreenLng();
    int region = openScreen(traceFrom(start));
    ASSERT_GT(region, 0);
    size_t from = trace().size();
    b.draw();
    std::vector<std::string> expected;
    for (int i = 0; i < 15; i++)
        expected.push_back("TAP_Osd_FillBox " + std::to_string(region) + " " + std::to_string(b.x) + " " +
                           std::to_string(b.y + i) + " " + std::to_string(b.width) + " " +
                           std::to_string(30 - 2 * i) + " " + hexColour(selectedButtonRow(i)));
    EXPECT_EQ("0xFFA0E088", hexColour(selectedButtonRow(0)));
    EXPECT_EQ("0xFF3E7E26", hexColour(selectedButtonRow(14)));
    std::vector<std::string> fills;
    for (const TracedCall &c : callsNamed(tracedCalls(traceFrom(from)), "TAP_Osd_FillBox"))
        if (c.args.size() == 6 && c.args[1] == std::to_string(b.x) && atoi(c.args[2].c_str()) >= b.y &&
            atoi(c.args[2].c_str()) < b.y + 30)
            fills.push_back(c.text());
    EXPECT_EQ(expected, fills);
    // On the screen: row k has the colour of step min(k, 29 - k); the
    // row below the button is the body panel again.
    for (int k = 0; k < 30; k++)
        EXPECT_EQ(hexColour(selectedButtonRow(k)), hexColour(emuOsdPixel(region, b.x + 1, b.y + k)))
            << b.name << " row " << k;
    EXPECT_EQ(hexColour(0xFF28281E), hexColour(emuOsdPixel(region, b.x + 1, b.y + 30))) << b.name;
}

INSTANTIATE_TEST_SUITE_P(Pages, SelectedButton, ::testing::ValuesIn(kSelectedButtons),
                         [](const ::testing::TestParamInfo<ButtonCase> &info) { return info.param.name; });

using DrawButton = EmuTest;

TEST_F(DrawButton, NormalButtonIsOneFlatFill) {
    size_t start = trace().size();
    drawScreenLng();
    int region = openScreen(traceFrom(start));
    ASSERT_GT(region, 0);
    // "DE" is not selected on the English language screen.
    for (int k = 0; k < 30; k++)
        EXPECT_EQ(hexColour(0xFF181818), hexColour(emuOsdPixel(region, 271, 355 + k))) << "row " << k;
}

// The progress bar: done x 356 / total pixels, exact for all 32-bit counts.
struct BarCase {
    const char *name;
    dword done, total;
    int width;
};

const BarCase kBars[] = {
    {"NothingOfNothing", 0, 0, 0},
    {"NothingDone", 0, 100, 0},
    {"NoTotal", 100, 0, 0},
    {"OneOfThousandRoundsToZero", 1, 1000, 0},
    {"OneOfHundred", 1, 100, 3},
    {"HalfDone", 50, 100, 178},
    {"HundredOfHundred", 100, 100, 356},
    {"LargeArchive", 15000000, 19763200, 270},
    {"DoneEqualsLargeTotal", 20000000, 20000000, 356},
    {"AllOfMaximum", 0xFFFFFFFFu, 0xFFFFFFFFu, 356},
    {"AllButOneOfMaximum", 0xFFFFFFFEu, 0xFFFFFFFFu, 355},
    {"HalfOfMaximum", 0x80000000u, 0xFFFFFFFFu, 178},
    {"OneOfMaximum", 1, 0xFFFFFFFFu, 0},
    {"BeyondTotalStaysFull", 200, 100, 356},
};

class ProgressBar : public EmuTest, public ::testing::WithParamInterface<BarCase> {};

TEST_P(ProgressBar, WidthIsShareOf356Pixels) {
    const BarCase &c = GetParam();
    size_t start = trace().size();
    drawScreenLng();
    int region = openScreen(traceFrom(start));
    ASSERT_GT(region, 0);
    size_t from = trace().size();
    drawScreenInstall(c.done, c.total, 0);
    EXPECT_EQ(installPage(region, LANG_EN, c.width, false), osdCalls(tracedCalls(traceFrom(from)))) << c.name;
    // The bar starts two pixels inside the trough; right of it the trough.
    if (c.width > 0) {
        EXPECT_EQ(hexColour(0xFF0000FF), hexColour(emuOsdPixel(region, 182 + c.width - 1, 280))) << c.name;
    }
    EXPECT_EQ(hexColour(0xFF181818), hexColour(emuOsdPixel(region, 182 + c.width, 280))) << c.name;
    EXPECT_EQ(hexColour(0xFF181818), hexColour(emuOsdPixel(region, 181, 280))) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Counts, ProgressBar, ::testing::ValuesIn(kBars),
                         [](const ::testing::TestParamInfo<BarCase> &info) { return info.param.name; });

using DrawScreenInstall = EmuTest;

TEST_F(DrawScreenInstall, CompletePageKeepsFullBarUnderExitButton) {
    size_t start = trace().size();
    drawScreenLng();
    int region = openScreen(traceFrom(start));
    ASSERT_GT(region, 0);
    gLanguage = LANG_FR;
    drawScreenInstall(100, 100, 1);
    // The whole page follows the new language at once; the bar is full.
    EXPECT_EQ(hexColour(0xFF0000FF), hexColour(emuOsdPixel(region, 537, 280)));
    EXPECT_EQ(hexColour(0xFFA0E088), hexColour(emuOsdPixel(region, 301, 310)));
    std::vector<TracedCall> puts = callsNamed(tracedCalls(traceFrom(start)), "TAP_Osd_PutS");
    ASSERT_FALSE(puts.empty());
    EXPECT_EQ("\"Sortie\"", puts.back().args[4]);
}

} // namespace
