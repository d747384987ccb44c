// The stand-in's OSD regions: framebuffers, fills, outlines, text and the
// composed screen.
//
// A drawing call is kept in its region's list of pending operations and
// rasterised only when someone looks at the pixels (osdPixel, the composed
// screen of a picture or a window): a TAP that repaints its page hundreds
// of times costs no pixels until a frame is wanted.  A fill that covers
// the whole region makes every operation before it moot, so a page that
// starts with a full-screen fill keeps the list as short as the page; and
// a page drawn again with the very operations that made the region's
// pixels is not painted again, nor the screen composed again.
#include "osd.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "picture.h"

namespace {

// One drawing call, as osdFillBox or osdPutS took it (an outline is four
// fills).
struct Operation {
    bool text;
    bool whole;              // a fill of every pixel of the region
    long long x, y, w, h;    // fill: the box; text: x, y, right-hand limit in w
    uint32_t colour, back;   // fill colour / text colour, text background
    int fontSize, align;
    std::string string;
};

bool operator==(const Operation &a, const Operation &b) {
    return a.text == b.text && a.whole == b.whole && a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h &&
           a.colour == b.colour && a.back == b.back && a.fontSize == b.fontSize && a.align == b.align &&
           a.string == b.string;
}

struct Region {
    int x, y;                // position on the screen
    PictureBuffer buffer;    // pixels == nullptr: the handle is free
    unsigned long order;     // creation sequence, for composing the screen
    std::vector<Operation> pending;  // not yet in the pixels, in call order
    std::vector<Operation> painted;  // what made the pixels, from a whole fill on (empty: not known)
};

// A list this long is rasterised at once, whatever comes: a TAP that never
// covers its whole region keeps memory bounded.
const size_t kMaxPending = 4096;

// Regions by handle; index 0 is never used.
Region gRegions[OSD_MAX_REGIONS + 1];
// A region was made, deleted or painted since the screen was last composed.
bool gScreenChanged = true;
// The sequence number the next created region gets.
unsigned long gNextOrder = 1;

// The largest side of a region: a multiple of the screen is plenty.
const int kMaxSide = 4096;

Region *findRegion(int region) {
    if (region < 1 || region > OSD_MAX_REGIONS || !gRegions[region].buffer.pixels) return nullptr;
    return &gRegions[region];
}

// Clips the interval [start, start + length) to [0, limit); in 64 bits,
// so that sums of huge or wrapped values cannot overflow.  False when
// nothing is left.
bool clipSpan(long long start, long long length, int limit, int *from, int *to) {
    if (length <= 0) return false;
    long long a = start, b = start + length;
    if (a < 0) a = 0;
    if (b > limit) b = limit;
    if (a >= b) return false;
    *from = (int)a, *to = (int)b;
    return true;
}

void paintFill(Region *r, const Operation &op) {
    int x0, x1, y0, y1;
    if (!clipSpan(op.x, op.w, r->buffer.width, &x0, &x1) || !clipSpan(op.y, op.h, r->buffer.height, &y0, &y1))
        return;
    for (int row = y0; row < y1; row++) {
        uint32_t *p = r->buffer.pixels + (size_t)row * r->buffer.width;
        for (int col = x0; col < x1; col++) p[col] = op.colour;
    }
}

// Puts the pending operations into the pixels, in order; false when the
// pixels stay as they were (nothing pending, or the same page again).
bool rasterise(Region *r) {
    if (r->pending.empty()) return false;
    bool whole = r->pending[0].whole;
    if (whole && r->pending == r->painted) {
        r->pending.clear();
        return false;
    }
    for (const Operation &op : r->pending) {
        if (op.text)
            pictureText(&r->buffer, (int)op.x, (int)op.y, (int)op.w, op.string.c_str(), op.colour, op.back,
                        op.fontSize, op.align);
        else
            paintFill(r, op);
    }
    if (whole) {
        r->painted.swap(r->pending);
    } else if (!r->painted.empty() && r->painted.size() + r->pending.size() <= kMaxPending) {
        r->painted.insert(r->painted.end(), r->pending.begin(), r->pending.end());
    } else {
        r->painted.clear();
    }
    r->pending.clear();
    gScreenChanged = true;
    return true;
}

void keep(Region *r, Operation &&op) {
    if (r->pending.size() >= kMaxPending) rasterise(r);
    r->pending.push_back(std::move(op));
}

void fill(Region *r, long long x, long long y, long long w, long long h, uint32_t colour) {
    int x0, x1, y0, y1;
    if (!clipSpan(x, w, r->buffer.width, &x0, &x1) || !clipSpan(y, h, r->buffer.height, &y0, &y1))
        return;
    // every pixel is set: nothing drawn before shows any more
    bool whole = x0 == 0 && y0 == 0 && x1 == r->buffer.width && y1 == r->buffer.height;
    if (whole) r->pending.clear();
    Operation op{};
    op.whole = whole;
    op.x = x0, op.y = y0, op.w = x1 - x0, op.h = y1 - y0, op.colour = colour;
    keep(r, std::move(op));
}

}  // namespace

int osdCreate(int x, int y, int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return 0;
    for (int handle = 1; handle <= OSD_MAX_REGIONS; handle++) {
        Region &r = gRegions[handle];
        if (r.buffer.pixels) continue;
        r.buffer.pixels = (uint32_t *)calloc((size_t)width * height, sizeof(uint32_t));
        if (!r.buffer.pixels) return 0;
        r.buffer.width = width, r.buffer.height = height;
        r.x = x, r.y = y;
        r.order = gNextOrder++;
        gScreenChanged = true;
        return handle;
    }
    return 0;
}

int osdDelete(int region) {
    Region *r = findRegion(region);
    if (!r) return -1;
    free(r->buffer.pixels);
    *r = Region();
    gScreenChanged = true;
    return 0;
}

int osdFillBox(int region, int x, int y, int w, int h, uint32_t colour) {
    Region *r = findRegion(region);
    if (!r) return -1;
    fill(r, x, y, w, h, colour);
    return 0;
}

int osdDrawRectangle(int region, int x, int y, int w, int h, int thickness, uint32_t colour) {
    Region *r = findRegion(region);
    if (!r) return -1;
    if (thickness <= 0 || w <= 0 || h <= 0) return 0;
    if (2LL * thickness >= w || 2LL * thickness >= h) {
        fill(r, x, y, w, h, colour);
        return 0;
    }
    long long t = thickness, inner = (long long)h - 2 * t;
    fill(r, x, y, w, t, colour);
    fill(r, x, (long long)y + h - t, w, t, colour);
    fill(r, x, (long long)y + t, t, inner, colour);
    fill(r, (long long)x + w - t, (long long)y + t, t, inner, colour);
    return 0;
}

int osdPutS(int region, int x, int y, int rightLimit, const char *text, uint32_t textColour,
            uint32_t backColour, int fontType, int fontSize, int dot, int align) {
    (void)fontType, (void)dot;
    Region *r = findRegion(region);
    if (!r || !text) return -1;
    Operation op{};
    op.text = true;
    op.x = x, op.y = y, op.w = rightLimit, op.colour = textColour, op.back = backColour;
    op.fontSize = fontSize, op.align = align;
    op.string = text;
    keep(r, std::move(op));
    return 0;
}

uint32_t osdPixel(int region, int x, int y) {
    Region *r = findRegion(region);
    if (!r || x < 0 || y < 0 || x >= r->buffer.width || y >= r->buffer.height) return 0;
    rasterise(r);
    return r->buffer.pixels[(size_t)y * r->buffer.width + x];
}

void osdCompose(uint32_t *screen) {
    const size_t count = (size_t)OSD_SCREEN_WIDTH * OSD_SCREEN_HEIGHT;
    // the screen composed last, given again while no region changed
    static std::vector<uint32_t> composed;
    for (int h = 1; h <= OSD_MAX_REGIONS; h++)
        if (gRegions[h].buffer.pixels) rasterise(&gRegions[h]);
    if (!gScreenChanged && composed.size() == count) {
        memcpy(screen, composed.data(), count * sizeof *screen);
        return;
    }
    for (size_t i = 0; i < count; i++) screen[i] = 0xFF000000;

    // Regions in the order they were created: each one painted over the
    // ones before it.
    unsigned long done = 0;
    for (;;) {
        Region *next = nullptr;
        for (int h = 1; h <= OSD_MAX_REGIONS; h++) {
            Region *r = &gRegions[h];
            if (r->buffer.pixels && r->order > done && (!next || r->order < next->order)) next = r;
        }
        if (!next) break;
        done = next->order;
        int x0, x1, y0, y1;
        if (!clipSpan(next->x, next->buffer.width, OSD_SCREEN_WIDTH, &x0, &x1) ||
            !clipSpan(next->y, next->buffer.height, OSD_SCREEN_HEIGHT, &y0, &y1))
            continue;
        for (int sy = y0; sy < y1; sy++) {
            const uint32_t *src = next->buffer.pixels + (size_t)(sy - next->y) * next->buffer.width + (x0 - next->x);
            uint32_t *dst = screen + (size_t)sy * OSD_SCREEN_WIDTH + x0;
            int n = x1 - x0;
            uint32_t opaque = 0xFF000000;
            for (int i = 0; i < n; i++) opaque &= src[i];
            if (opaque == 0xFF000000) {
                memcpy(dst, src, (size_t)n * sizeof *dst);  // an opaque row covers what lies beneath
                continue;
            }
            for (int i = 0; i < n; i++) {
                uint32_t c = src[i];
                if (c >> 24 == 0xFF) dst[i] = c;
                else if (c >> 24) dst[i] = pictureBlend(dst[i], c, 255);
            }
        }
    }
    composed.assign(screen, screen + count);
    gScreenChanged = false;
}

int osdWritePng(const char *path) {
    if (!path) return 0;
    static uint32_t screen[OSD_SCREEN_WIDTH * OSD_SCREEN_HEIGHT];
    osdCompose(screen);
    PictureBuffer picture = {screen, OSD_SCREEN_WIDTH, OSD_SCREEN_HEIGHT};
    return pictureWritePng(path, &picture);
}

void osdReset(void) {
    for (int h = 1; h <= OSD_MAX_REGIONS; h++)
        if (gRegions[h].buffer.pixels) osdDelete(h);
    gNextOrder = 1;
}
