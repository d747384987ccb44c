// The stand-in's on-screen display: what a TAP's drawing leaves in the
// region's framebuffer and on the saved screen.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "emulator/display/osd.h"
#include "emutest.h"

#if TAPEMU_PICTURES
#include <png.h>
#endif

namespace {

const uint32_t kGrey = 0xFF464646, kPanel = 0xFF28281E, kText = 0xFFC0C0C0, kBack = 0xFF101010;

// The drawing calls as a TAP makes them (the firmware takes unsigned
// values: negative ones arrive wrapped), and the framebuffer as the
// firmware shows it.
int create(int x, int y, int w, int h) { return TAP_Osd_Create(x, y, w, h, 0, 0x1000); }
int deleteRegion(int r) { return TAP_Osd_Delete((word)r); }
int fillBox(int r, int x, int y, int w, int h, uint32_t c) { return TAP_Osd_FillBox((word)r, x, y, w, h, c); }
int rectangle(int r, int x, int y, int w, int h, int t, uint32_t c) {
    return TAP_Osd_DrawRectangle((word)r, x, y, w, h, t, c);
}
int putS(int r, int x, int y, int limit, const char *s, uint32_t c, uint32_t back, int size, int align) {
    return TAP_Osd_PutS((word)r, x, y, limit, s, c, back, 0, (byte)size, 0, (byte)align);
}
uint32_t pixel(int r, int x, int y) { return emuOsdPixel(r, x, y); }

// A copy of a whole region's pixels.
std::vector<uint32_t> snapshot(int r, int w, int h) {
    std::vector<uint32_t> v;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) v.push_back(pixel(r, x, y));
    return v;
}

// The box of the pixels that differ from `background`.
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // right, bottom inclusive
    bool empty() const { return right < 0; }
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};
Box changed(int r, int w, int h, uint32_t background) {
    Box b;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            if (pixel(r, x, y) != background) {
                if (x < b.left) b.left = x;
                if (x > b.right) b.right = x;
                if (y < b.top) b.top = y;
                if (y > b.bottom) b.bottom = y;
            }
    return b;
}

// Every case starts with a freshly started receiver: no regions yet.
class Osd : public EmuTest {};

// A screen-sized region filled with the installer's background.
class OsdScreen : public Osd {
protected:
    void SetUp() override {
        Osd::SetUp();
        region = create(0, 0, 720, 576);
        ASSERT_GE(region, 1);
        fillBox(region, 0, 0, 720, 576, kBack);
    }
    int region = 0;
};

}  // namespace

// ---- Regions and handles -------------------------------------------------

TEST_F(Osd, NewRegionIsTransparent) {
    int r = create(0, 0, 720, 576);
    ASSERT_GE(r, 1);
    for (int p : {0, 100, 575})
        EXPECT_EQ(0u, pixel(r, p, p)) << "pixel " << p;
    EXPECT_EQ(0u, pixel(r, 719, 575));
}

TEST_F(Osd, HandlesRunOutAfterSixteenAndComeBackAfterDelete) {
    std::vector<int> handles;
    for (int i = 0; i < OSD_MAX_REGIONS; i++) {
        int h = create(0, 0, 8, 8);
        ASSERT_GE(h, 1) << "region " << i;
        for (int other : handles) EXPECT_NE(other, h);
        handles.push_back(h);
    }
    EXPECT_EQ(0, create(0, 0, 8, 8));
    ASSERT_EQ(0, deleteRegion(handles[5]));
    int again = create(0, 0, 4, 4);
    EXPECT_EQ(handles[5], again);
    EXPECT_EQ(0u, pixel(again, 0, 0)) << "a reused handle starts transparent";
}

struct BadSize {
    const char *name;
    int w, h;
};
void PrintTo(const BadSize &c, std::ostream *os) { *os << c.name; }
class OsdCreateRefuses : public Osd, public ::testing::WithParamInterface<BadSize> {};

TEST_P(OsdCreateRefuses, SizeThatCannotBeAFramebuffer) {
    EXPECT_EQ(0, create(0, 0, GetParam().w, GetParam().h)) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Sizes, OsdCreateRefuses,
                         ::testing::ValuesIn(std::vector<BadSize>{
                             {"zero width", 0, 576},
                             {"zero height", 720, 0},
                             {"negative", -720, 576},
                             {"wrapped unsigned", (int)0xFFFFFFF0u, 576},
                             {"huge", 1 << 30, 1 << 30},
                         }),
                         [](const auto &info) { return std::to_string(info.index); });

// Handles that name no region: never created, out of range, or deleted.
class OsdUnknownRegion : public Osd, public ::testing::WithParamInterface<int> {};

TEST_P(OsdUnknownRegion, EveryCallFailsAndNothingChanges) {
    int live = create(0, 0, 16, 16);
    ASSERT_GE(live, 1);
    int deleted = create(0, 0, 16, 16);
    ASSERT_EQ(0, deleteRegion(deleted));
    int r = GetParam() == -100 ? deleted : GetParam();
    if (r == live) GTEST_SKIP() << "handle is the live one";
    EXPECT_EQ(-1, deleteRegion(r)) << "region " << r;
    EXPECT_EQ(-1, fillBox(r, 0, 0, 16, 16, kGrey)) << "region " << r;
    EXPECT_EQ(-1, rectangle(r, 0, 0, 16, 16, 2, kGrey)) << "region " << r;
    EXPECT_EQ(-1, putS(r, 0, 0, 16, "x", kText, 0, 1, 0)) << "region " << r;
    EXPECT_EQ(0u, pixel(r, 0, 0)) << "region " << r;
    EXPECT_EQ(0u, pixel(live, 0, 0)) << "the live region was drawn on through " << r;
}

INSTANTIATE_TEST_SUITE_P(Handles, OsdUnknownRegion, ::testing::ValuesIn(std::vector<int>{0, 17, 0xFFFF, -100}),
                         [](const auto &info) { return std::to_string(info.index); });

TEST_F(Osd, RestartedReceiverHasNoRegions) {
    int a = create(0, 0, 8, 8), b = create(8, 8, 8, 8);
    fillBox(a, 0, 0, 8, 8, kGrey);
    fillBox(b, 0, 0, 8, 8, kGrey);
    emuStop();
    char err[256] = "";
    ASSERT_EQ(1, emuStart(&options, err, sizeof err)) << err;
    EXPECT_EQ(0u, pixel(a, 1, 1));
    EXPECT_EQ(-1, deleteRegion(a));
    EXPECT_EQ(-1, deleteRegion(b));
}

// ---- Boxes and outlines --------------------------------------------------

TEST_F(OsdScreen, FillBoxCoversExactlyItsBox) {
    ASSERT_EQ(0, fillBox(region, 150, 203, 420, 206, kPanel));
    Box b = changed(region, 720, 576, kBack);
    EXPECT_EQ(150, b.left);
    EXPECT_EQ(203, b.top);
    EXPECT_EQ(420, b.width());
    EXPECT_EQ(206, b.height());
    EXPECT_EQ(kPanel, pixel(region, 150, 203));
    EXPECT_EQ(kPanel, pixel(region, 569, 408));
}

struct OutlinePoint {
    int x, y;
    bool border;
};
void PrintTo(const OutlinePoint &p, std::ostream *os) { *os << p.x << "," << p.y; }
class OsdOutline : public OsdScreen, public ::testing::WithParamInterface<OutlinePoint> {};

// The heading panel's outline: (148, 165, 424, 38), thickness 2.
TEST_P(OsdOutline, TwoPixelBandAlongTheInside) {
    ASSERT_EQ(0, rectangle(region, 148, 165, 424, 38, 2, kGrey));
    OutlinePoint p = GetParam();
    EXPECT_EQ(p.border ? kGrey : kBack, pixel(region, p.x, p.y)) << "at " << p.x << "," << p.y;
}

INSTANTIATE_TEST_SUITE_P(Points, OsdOutline,
                         ::testing::ValuesIn(std::vector<OutlinePoint>{
                             {148, 165, true},   // top-left corner
                             {149, 166, true},   // second ring
                             {150, 167, false},  // first inside pixel
                             {571, 165, true},   // top-right corner: the last column
                             {570, 184, true},   // right band, inner column
                             {569, 184, false},
                             {148, 202, true},   // bottom-left: the last row
                             {360, 201, true},   // bottom band, inner row
                             {360, 200, false},
                             {360, 184, false},  // the middle stays as it was
                             {147, 184, false},  // just outside, left
                             {572, 184, false},  // just outside, right
                             {360, 164, false},  // just outside, above
                             {360, 203, false},  // just outside, below
                         }),
                         [](const auto &info) { return std::to_string(info.index); });

// The body panel's outline starts on the heading panel's last two rows.
TEST_F(OsdScreen, OutlinesOfHeadingAndBodyPanelsShareTwoRows) {
    rectangle(region, 148, 165, 424, 38, 2, kGrey);
    fillBox(region, 150, 167, 420, 34, 0xFF202020);
    rectangle(region, 148, 201, 424, 210, 2, kGrey);
    fillBox(region, 150, 203, 420, 206, kPanel);
    for (int y = 199; y <= 204; y++) {
        uint32_t want = y <= 200 ? 0xFF202020 : y <= 202 ? kGrey : kPanel;
        EXPECT_EQ(want, pixel(region, 360, y)) << "row " << y;
    }
}

TEST_F(OsdScreen, OutlineThickerThanHalfTheBoxFillsIt) {
    rectangle(region, 10, 10, 4, 30, 2, kGrey);
    EXPECT_EQ(kGrey, pixel(region, 11, 20));
    EXPECT_EQ(kGrey, pixel(region, 12, 20));
    Box b = changed(region, 720, 576, kBack);
    EXPECT_EQ(4, b.width());
    EXPECT_EQ(30, b.height());
}

// ---- Clipping ------------------------------------------------------------

struct ClipCase {
    const char *name;
    int x, y, w, h;
    int left, top, right, bottom;  // expected changed box, inclusive; right < 0: nothing
};
void PrintTo(const ClipCase &c, std::ostream *os) { *os << c.name; }
class OsdClip : public Osd, public ::testing::WithParamInterface<ClipCase> {
protected:
    // Two small regions whose buffers sit close together on the heap: the
    // drawing goes into `target`, `neighbour` must never change.
    void SetUp() override {
        Osd::SetUp();
        neighbour = create(0, 0, 40, 30);
        target = create(100, 100, 40, 30);
        after = create(0, 0, 40, 30);
        ASSERT_TRUE(neighbour && target && after);
        for (int r : {neighbour, target, after}) fillBox(r, 0, 0, 40, 30, kBack);
    }
    void check(const char *call) {
        const ClipCase &c = GetParam();
        Box b = changed(target, 40, 30, kBack);
        if (c.right < 0) {
            EXPECT_TRUE(b.empty()) << call << " " << c.name << " changed " << b.left << "," << b.top;
        } else {
            EXPECT_EQ(c.left, b.left) << call << " " << c.name;
            EXPECT_EQ(c.top, b.top) << call << " " << c.name;
            EXPECT_EQ(c.right, b.right) << call << " " << c.name;
            EXPECT_EQ(c.bottom, b.bottom) << call << " " << c.name;
        }
        std::vector<uint32_t> untouched(40 * 30, kBack);
        EXPECT_EQ(untouched, snapshot(neighbour, 40, 30)) << call << " " << c.name;
        EXPECT_EQ(untouched, snapshot(after, 40, 30)) << call << " " << c.name;
    }
    int neighbour = 0, target = 0, after = 0;
};

TEST_P(OsdClip, FillBoxStaysInsideTheRegion) {
    const ClipCase &c = GetParam();
    EXPECT_EQ(0, fillBox(target, c.x, c.y, c.w, c.h, kGrey)) << c.name;
    check("fill");
}

TEST_P(OsdClip, RectangleStaysInsideTheRegion) {
    const ClipCase &c = GetParam();
    EXPECT_EQ(0, rectangle(target, c.x, c.y, c.w, c.h, 2, kGrey)) << c.name;
    check("rectangle");
}

const int kWrap = (int)0xFFFFFFFEu;  // an unsigned -2

INSTANTIATE_TEST_SUITE_P(Arguments, OsdClip,
                         ::testing::ValuesIn(std::vector<ClipCase>{
                             {"over the top-left corner", -10, -10, 20, 20, 0, 0, 9, 9},
                             {"over the bottom-right corner", 30, 20, 100, 100, 30, 20, 39, 29},
                             {"the whole region and more", -1, -1, 50, 40, 0, 0, 39, 29},
                             {"beyond the width", 40, 0, 10, 10, 0, 0, -1, -1},
                             {"beyond the height", 0, 30, 10, 10, 0, 0, -1, -1},
                             {"far beyond", 1 << 30, 1 << 30, 10, 10, 0, 0, -1, -1},
                             {"huge size", 2, 3, 0x7FFFFFFF, 0x7FFFFFFF, 2, 3, 39, 29},
                             {"huge size from far left", -0x7FFFFFFF, -0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF,
                              0, 0, -1, -1},
                             {"negative size", 10, 10, -5, -5, 0, 0, -1, -1},
                             {"wrapped unsigned position", kWrap, kWrap, 6, 6, 0, 0, 3, 3},
                             {"wrapped unsigned size", 5, 5, kWrap, kWrap, 0, 0, -1, -1},
                             {"zero size", 5, 5, 0, 0, 0, 0, -1, -1},
                         }),
                         [](const auto &info) { return std::to_string(info.index); });

TEST_F(OsdScreen, PixelOutsideTheRegionIsZero) {
    for (auto xy : std::vector<std::pair<int, int>>{{-1, 0}, {0, -1}, {720, 0}, {0, 576}, {1 << 30, 5}})
        EXPECT_EQ(0u, pixel(region, xy.first, xy.second)) << xy.first << "," << xy.second;
}

// ---- Text ----------------------------------------------------------------

#define NEED_PICTURES() \
    if (!TAPEMU_PICTURES) GTEST_SKIP() << "this build draws no text"

struct Placement {
    const char *text;
    int x, limit, align, size;
};
void PrintTo(const Placement &p, std::ostream *os) {
    for (const char *c = p.text; *c; c++) {
        char hex[8];
        snprintf(hex, sizeof hex, "\\x%02X", (unsigned char)*c);
        *os << ((unsigned char)*c < 0x80 ? std::string(1, *c) : std::string(hex));
    }
    *os << " align " << p.align << " size " << p.size;
}
class OsdTextPlacement : public OsdScreen, public ::testing::WithParamInterface<Placement> {};

TEST_P(OsdTextPlacement, InkSitsWhereTheAlignmentPutsIt) {
    NEED_PICTURES();
    const Placement &p = GetParam();
    ASSERT_EQ(0, putS(region, p.x, 100, p.limit, p.text, kText, 0, p.size, p.align));
    Box b = changed(region, 720, 576, kBack);
    ASSERT_FALSE(b.empty()) << p.text;
    EXPECT_GE(b.left, p.x) << p.text;
    EXPECT_LT(b.right, p.limit) << p.text;
    EXPECT_GE(b.top, 100) << p.text;
    if (p.align == 0) {
        EXPECT_LE(b.left, p.x + 3) << p.text;
    }
    if (p.align == 2) {
        EXPECT_GE(b.right, p.limit - 4) << p.text;
    }
    if (p.align == 1) {
        int leftGap = b.left - p.x, rightGap = p.limit - 1 - b.right;
        EXPECT_GT(leftGap, 0) << p.text << " fits its room";
        EXPECT_LE(abs(leftGap - rightGap), 3) << p.text << ": gaps " << leftGap << " and " << rightGap;
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, OsdTextPlacement,
                         ::testing::ValuesIn(std::vector<Placement>{
                             {"EN", 170, 250, 1, 1},
                             {"/ProgramFiles/AutoStart", 260, 480, 1, 1},
                             {"Install Zephyrdesk 2.20", 0, 720, 1, 2},
                             {"Please select the language", 150, 570, 1, 1},
                             {"Choisissez la destination de l'installation", 150, 570, 1, 1},
                             {"W\xE4hle die Sprache", 150, 570, 1, 1},
                             {"Exit", 300, 422, 1, 1},
                             {"Language", 150, 570, 0, 1},
                             {"Language", 150, 570, 2, 1},
                             {"small", 10, 300, 2, 0},
                         }),
                         [](const auto &info) { return std::to_string(info.index); });

TEST_F(OsdScreen, TextIsClippedAtTheRightLimit) {
    NEED_PICTURES();
    putS(region, 100, 100, 160, "Choisissez la destination de l'installation", kText, 0, 1, 1);
    Box b = changed(region, 720, 576, kBack);
    ASSERT_FALSE(b.empty());
    EXPECT_GE(b.left, 100);
    EXPECT_LE(b.left, 103) << "text too wide for its room starts at x";
    EXPECT_LE(b.right, 159);
    EXPECT_GE(b.right, 155) << "the room is used up to the limit";
}

TEST_F(OsdScreen, ButtonTextFitsInsideAThirtyPixelButton) {
    NEED_PICTURES();
    fillBox(region, 0, 0, 720, 576, 0xFF181818);
    putS(region, 260, 299, 480, "\xC4gypten /ProgramFiles", kText, 0, 0, 1);
    putS(region, 260, 299, 480, "\xC4gypten /ProgramFiles", kText, 0, 1, 1);
    Box b = changed(region, 720, 576, 0xFF181818);
    EXPECT_GE(b.top, 295);
    EXPECT_LE(b.bottom, 324);
    EXPECT_LE(b.bottom - b.top + 1, 26);
}

TEST_F(OsdScreen, SizeCodesGrowFromSmallToTitle) {
    NEED_PICTURES();
    int heights[3], widths[3];
    for (int size = 0; size < 3; size++) {
        fillBox(region, 0, 0, 720, 576, kBack);
        putS(region, 0, 64, 720, "Install Zephyrdesk", kText, 0, size, 1);
        Box b = changed(region, 720, 576, kBack);
        heights[size] = b.height(), widths[size] = b.width();
    }
    EXPECT_LT(heights[0], heights[1]);
    EXPECT_LT(widths[0], widths[1]);
    EXPECT_GE(heights[2], heights[1] + 4) << "the title is clearly taller";
    EXPECT_GT(widths[2], widths[1]);
}

TEST_F(OsdScreen, UmlautByteIsDrawnAsItsOwnLetter) {
    NEED_PICTURES();
    auto draw = [&](const char *s) {
        fillBox(region, 0, 0, 720, 576, kBack);
        putS(region, 100, 100, 200, s, kText, 0, 1, 0);
        return snapshot(region, 720, 576);
    };
    std::vector<uint32_t> blank = draw(""), a = draw("a"), ae = draw("\xE4"), ue = draw("\xFC");
    EXPECT_NE(blank, ae) << "0xE4 draws something";
    EXPECT_NE(a, ae) << "0xE4 is not drawn as a";
    EXPECT_NE(blank, ue) << "0xFC draws something";
    EXPECT_NE(ae, ue);
    // The dots sit above the letter: ink higher than the plain a's top.
    fillBox(region, 0, 0, 720, 576, kBack);
    putS(region, 100, 100, 200, "a", kText, 0, 1, 0);
    int aTop = changed(region, 720, 576, kBack).top;
    fillBox(region, 0, 0, 720, 576, kBack);
    putS(region, 100, 100, 200, "\xE4", kText, 0, 1, 0);
    EXPECT_LT(changed(region, 720, 576, kBack).top, aTop - 2);
}

TEST_F(OsdScreen, TextIsAntiAliasedInItsColour) {
    NEED_PICTURES();
    putS(region, 150, 100, 570, "Installation target", 0xFFE89211, 0, 1, 1);
    bool full = false, partial = false;
    for (int y = 95; y < 130; y++)
        for (int x = 150; x < 570; x++) {
            uint32_t c = pixel(region, x, y);
            if (c == 0xFFE89211) full = true;
            else if (c != kBack) {
                partial = true;
                EXPECT_EQ(0xFFu, c >> 24) << "blended onto an opaque background stays opaque";
            }
        }
    EXPECT_TRUE(full) << "the stems are in the text colour";
    EXPECT_TRUE(partial) << "the edges are blended";
}

TEST_F(OsdScreen, BackgroundColourFillsTheTextBoxAndZeroKeepsWhatIsThere) {
    NEED_PICTURES();
    putS(region, 100, 100, 400, "OK", kText, 0, 1, 0);
    Box inkOnly = changed(region, 720, 576, kBack);
    fillBox(region, 0, 0, 720, 576, kBack);
    putS(region, 100, 100, 400, "OK", kText, 0xFF0000FF, 1, 0);
    EXPECT_EQ(0xFF0000FFu, pixel(region, 100, 100)) << "box starts at x, y";
    Box withBack = changed(region, 720, 576, kBack);
    EXPECT_LE(withBack.left, inkOnly.left);
    EXPECT_LT(withBack.top, inkOnly.top);
    EXPECT_GE(withBack.right, inkOnly.right);
    EXPECT_LT(withBack.right, 400) << "the box is the text's, not the room's";
}

TEST_F(OsdScreen, TextTouchesNothingWithoutPictures) {
    if (TAPEMU_PICTURES) GTEST_SKIP() << "this build draws text";
    EXPECT_EQ(0, putS(region, 150, 100, 570, "Language", kText, 0, 1, 1));
    EXPECT_TRUE(changed(region, 720, 576, kBack).empty());
}

// ---- Screen pictures -----------------------------------------------------

#if TAPEMU_PICTURES
// A PNG read back with libpng: size and 8-bit RGB(A) pixels.
struct Png {
    int width = 0, height = 0, channels = 0;
    std::vector<unsigned char> data;
    uint32_t at(int x, int y) const {
        const unsigned char *p = &data[((size_t)y * width + x) * channels];
        return 0xFF000000u | p[0] << 16 | p[1] << 8 | p[2];
    }
};

bool readPng(const std::string &path, Png *out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    out->width = image.width, out->height = image.height, out->channels = 3;
    out->data.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, out->data.data(), 0, nullptr) != 0;
}
#endif

// A receiver that saves the screen at every TAP_Osd_Sync.
class OsdPicture : public Osd {
protected:
    void configure(EmuOptions &o) override { o.pictures = 1; }
    // The pictures in the output folder, in name order.
    std::vector<std::string> pictures() const {
        std::vector<std::string> names;
        if (DIR *d = opendir(outDir.c_str())) {
            while (dirent *e = readdir(d)) {
                std::string n = e->d_name;
                if (n.size() > 4 && n.compare(n.size() - 4, 4, ".png") == 0) names.push_back(outDir + "/" + n);
            }
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(OsdPicture, SyncSavesRegionsComposedInCreationOrder) {
    NEED_PICTURES();
#if TAPEMU_PICTURES
    int screen = create(0, 0, 720, 576);
    fillBox(screen, 0, 0, 720, 576, kBack);
    fillBox(screen, 182, 275, 356, 11, 0xFF0000FF);
    int small = create(600, 500, 200, 200);  // partly off the screen
    fillBox(small, 0, 0, 200, 200, 0xFFA0E088);
    fillBox(small, 0, 0, 10, 10, 0);            // transparent corner
    fillBox(small, 10, 0, 10, 10, 0x80FFFFFF);  // half-transparent white
    TAP_Osd_Sync();
    std::vector<std::string> files = pictures();
    ASSERT_EQ(1u, files.size());
    Png png;
    ASSERT_TRUE(readPng(files[0], &png)) << files[0];
    EXPECT_EQ(720, png.width);
    EXPECT_EQ(576, png.height);
    EXPECT_EQ(kBack, png.at(0, 0));
    EXPECT_EQ(0xFF0000FFu, png.at(182, 275));
    EXPECT_EQ(0xFF0000FFu, png.at(537, 285));
    EXPECT_EQ(kBack, png.at(538, 285));
    EXPECT_EQ(0xFFA0E088u, png.at(719, 575)) << "the later region lies on top";
    EXPECT_EQ(kBack, png.at(605, 505)) << "a transparent pixel shows what is below";
    uint32_t half = png.at(615, 505);
    EXPECT_NEAR(0x88, (int)(half & 0xFF), 2) << std::hex << half;
#endif
}

TEST_F(OsdPicture, EverySyncSavesOnePicture) {
    NEED_PICTURES();
#if TAPEMU_PICTURES
    TAP_Osd_Sync();
    int r = create(0, 0, 720, 576);
    fillBox(r, 0, 0, 720, 576, 0xFF0000FF);
    TAP_Osd_Sync();
    std::vector<std::string> files = pictures();
    ASSERT_EQ(2u, files.size());
    Png first, second;
    ASSERT_TRUE(readPng(files[0], &first)) << files[0];
    ASSERT_TRUE(readPng(files[1], &second)) << files[1];
    EXPECT_EQ(0xFF000000u, first.at(360, 288)) << "an empty screen is black";
    EXPECT_EQ(0xFF0000FFu, second.at(360, 288));
#endif
}

TEST_F(OsdPicture, UnwritablePathWritesNothing) {
    create(0, 0, 720, 576);
    EXPECT_EQ(0, osdWritePng((outDir + "/missing/screen.png").c_str()));
    EXPECT_EQ(0, osdWritePng(nullptr));
}

TEST_F(OsdPicture, BuildWithoutPicturesSavesNone) {
    if (TAPEMU_PICTURES) GTEST_SKIP() << "this build writes pictures";
    int r = create(0, 0, 720, 576);
    fillBox(r, 0, 0, 720, 576, kBack);
    TAP_Osd_Sync();
    EXPECT_TRUE(pictures().empty());
    EXPECT_EQ(0, osdWritePng((outDir + "/screen.png").c_str()));
}

// ---- Pictures of repaints ------------------------------------------------

// A repaint as a TAP makes one: fills of the screen region (the first a
// whole-screen fill, or not), and whether a second, small region lies on
// top during it.
struct Fill {
    int x, y, w, h;
    uint32_t colour;
};
struct Repaint {
    std::vector<Fill> fills;
    bool second;
};
struct RepaintCase {
    const char *name;
    std::vector<Repaint> repaints;
};
void PrintTo(const RepaintCase &c, std::ostream *os) { *os << c.name; }

class OsdRepaints : public OsdPicture, public ::testing::WithParamInterface<RepaintCase> {};

const Fill kPage = {0, 0, 720, 576, kBack};
Fill bar(int width) { return {182, 275, width, 11, 0xFF0000FF}; }

// Every picture shows what its repaint drew, whatever the pictures before
// it showed: the expected screen is painted here, box by box.
TEST_P(OsdRepaints, EveryPictureShowsItsOwnScreen) {
    NEED_PICTURES();
#if TAPEMU_PICTURES
    const int W = 720, H = 576, SX = 600, SY = 500;  // the second region: 200 x 200 at SX, SY
    const uint32_t kSecond = 0xFFA0E088;
    int screen = create(0, 0, W, H), second = 0;
    std::vector<uint32_t> expected((size_t)W * H, 0xFF000000);  // no pixel drawn yet: black
    const std::vector<Repaint> &repaints = GetParam().repaints;
    std::vector<std::vector<uint32_t>> wanted;
    for (const Repaint &r : repaints) {
        for (const Fill &f : r.fills) {
            fillBox(screen, f.x, f.y, f.w, f.h, f.colour);
            for (int y = f.y; y < f.y + f.h; y++)
                for (int x = f.x; x < f.x + f.w; x++) expected[(size_t)y * W + x] = f.colour;
        }
        if (r.second && !second) {
            second = create(SX, SY, 200, 200);
            fillBox(second, 0, 0, 200, 200, kSecond);
        } else if (!r.second && second) {
            deleteRegion(second);
            second = 0;
        }
        std::vector<uint32_t> shown = expected;
        if (second)
            for (int y = SY; y < H; y++)
                for (int x = SX; x < W; x++) shown[(size_t)y * W + x] = kSecond;
        wanted.push_back(shown);
        TAP_Osd_Sync();
    }
    std::vector<std::string> files = pictures();
    ASSERT_EQ(repaints.size(), files.size());
    for (size_t i = 0; i < files.size(); i++) {
        Png png;
        ASSERT_TRUE(readPng(files[i], &png)) << files[i];
        ASSERT_EQ(W, png.width);
        ASSERT_EQ(H, png.height);
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++)
                ASSERT_EQ(wanted[i][(size_t)y * W + x], png.at(x, y))
                    << "picture " << i + 1 << " at " << x << "," << y;
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Pages, OsdRepaints,
    ::testing::ValuesIn(std::vector<RepaintCase>{
        {"ProgressBarGrowsAndStands",
         {{{kPage, bar(10)}, false}, {{kPage, bar(10)}, false}, {{kPage, bar(11)}, false},
          {{kPage, bar(356)}, false}, {{kPage, bar(356)}, false}}},
        {"PartialFillThenTheFirstPageAgain",
         {{{kPage, bar(50)}, false}, {{{0, 0, 10, 10, 0xFFFFFFFF}}, false}, {{kPage, bar(50)}, false}}},
        {"RowsAtTheEdgesOfBands",
         {{{kPage, {0, 15, 720, 2, 0xFFFF0000}}, false}, {{kPage, {0, 16, 720, 1, 0xFFFF0000}}, false},
          {{kPage, {0, 31, 720, 1, 0xFF00FF00}, {0, 575, 720, 1, 0xFF00FF00}}, false},
          {{kPage, {0, 16, 720, 1, 0xFFFF0000}}, false}}},
        {"SecondRegionComesAndGoes",
         {{{kPage, bar(20)}, false}, {{kPage, bar(20)}, true}, {{kPage, bar(20)}, true},
          {{kPage, bar(20)}, false}}},
        {"NothingDrawnBetweenSyncs", {{{kPage}, false}, {{}, false}, {{}, true}, {{}, true}}},
    }),
    [](const ::testing::TestParamInfo<RepaintCase> &i) { return std::string(i.param.name); });
