// Text and PNG pictures of the stand-in's display.  The PC build draws
// with FreeType and writes PNGs with zlib; the receiver build has
// neither and keeps only the colour rule.
#include "picture.h"

#include <unistd.h>

#ifndef TAPEMU_PICTURES
#define TAPEMU_PICTURES 0
#endif

uint32_t pictureBlend(uint32_t d, uint32_t c, unsigned coverage) {
    unsigned sa = ((c >> 24) * coverage + 127) / 255;
    if (sa == 0) return d;
    unsigned da = d >> 24;
    unsigned dw = (da * (255 - sa) + 127) / 255;  // what is left of the old pixel's weight
    unsigned oa = sa + dw;
    uint32_t out = (uint32_t)oa << 24;
    for (int shift = 0; shift < 24; shift += 8) {
        unsigned sc = (c >> shift) & 0xFF, dc = (d >> shift) & 0xFF;
        out |= (uint32_t)((sc * sa + dc * dw + oa / 2) / oa) << shift;
    }
    return out;
}

#if TAPEMU_PICTURES

#include <errno.h>
#include <fcntl.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

namespace {

const char *const kRegularFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char *const kBoldFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// FreeType and the two faces, loaded at the first text of the process.
FT_Library gLibrary;
FT_Face gRegular, gBold;
// 0 not tried yet, 1 loaded, -1 the regular face could not be loaded.
int gFontState;

bool loadFonts() {
    if (gFontState == 0) {
        gFontState = -1;
        if (FT_Init_FreeType(&gLibrary) != 0) {
            fprintf(stderr, "tapemu: FreeType does not start, text is not drawn\n");
        } else if (FT_New_Face(gLibrary, kRegularFont, 0, &gRegular) != 0) {
            fprintf(stderr, "tapemu: cannot load %s, text is not drawn\n", kRegularFont);
        } else {
            if (FT_New_Face(gLibrary, kBoldFont, 0, &gBold) != 0) gBold = gRegular;
            gFontState = 1;
        }
    }
    return gFontState == 1;
}

// Size code 0 small, 1 the normal line, 2 and above the bold title.  The
// normal line's box is 22 pixels high, so that text placed 4 below a
// 30-pixel button's top stays inside it, and "/ProgramFiles/AutoStart"
// (212 pixels) fits the installer's 220-pixel button.
FT_Face faceForSize(int fontSize) {
    FT_Face face = fontSize >= 2 ? gBold : gRegular;
    FT_Set_Pixel_Sizes(face, 0, fontSize <= 0 ? 14 : fontSize == 1 ? 18 : 26);
    return face;
}

// The glyph of ISO 8859-1 byte b, 0 for a control byte or a missing one.
FT_UInt glyphFor(FT_Face face, unsigned char b) {
    if (b < 0x20 || (b >= 0x7F && b < 0xA0)) return 0;
    return FT_Get_Char_Index(face, b);
}

// A rendered glyph as FreeType gave it: its advance, its grey bitmap
// (pitch = width) and where that sits against the pen and the baseline.
struct Glyph {
    bool tried, drawn;  // looked up; there is something to advance by or draw
    long long advance64;
    int left, top;
    unsigned width, rows;
    unsigned char *bitmap;  // null when it is no grey bitmap or empty
};

// The glyphs of every byte in the three sizes, rendered once a process:
// the hinting interpreter is the dear part of text.
Glyph gGlyphs[3][256];

// Which of the three sizes a size code draws in.
int sizeIndex(int fontSize) { return fontSize <= 0 ? 0 : fontSize == 1 ? 1 : 2; }

const Glyph &glyph(int fontSize, unsigned char b) {
    int size = sizeIndex(fontSize);
    Glyph &g = gGlyphs[size][b];
    if (g.tried) return g;
    g.tried = true;
    FT_Face face = faceForSize(fontSize);
    FT_UInt index = glyphFor(face, b);
    if (!index || FT_Load_Glyph(face, index, FT_LOAD_RENDER) != 0) return g;
    FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap &bm = slot->bitmap;
    g.drawn = true;
    g.advance64 = slot->advance.x;
    g.left = slot->bitmap_left, g.top = slot->bitmap_top;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.pitch <= 0 || bm.width == 0 || bm.rows == 0) return g;
    g.bitmap = (unsigned char *)malloc((size_t)bm.width * bm.rows);
    if (!g.bitmap) return g;
    g.width = bm.width, g.rows = bm.rows;
    for (unsigned r = 0; r < bm.rows; r++)
        for (unsigned c = 0; c < bm.width; c++) g.bitmap[r * bm.width + c] = bm.buffer[(size_t)r * bm.pitch + c];
    return g;
}

}  // namespace

int pictureText(PictureBuffer *buffer, int x, int y, int rightLimit, const char *text,
                uint32_t textColour, uint32_t backColour, int fontSize, int align) {
    if (!loadFonts()) return 0;
    static long long ascents[3], lineHeights[3];  // of each size, once its face was set to it
    static bool measured[3];
    int size = sizeIndex(fontSize);
    if (!measured[size]) {
        FT_Face face = faceForSize(fontSize);
        ascents[size] = (face->size->metrics.ascender + 63) >> 6;
        lineHeights[size] = ascents[size] + ((-face->size->metrics.descender + 63) >> 6);
        measured[size] = true;
    }
    long long ascent = ascents[size], lineHeight = lineHeights[size];

    // The advance of the whole string in 1/64 pixel.
    long long width64 = 0;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        const Glyph &g = glyph(fontSize, *p);
        if (g.drawn) width64 += g.advance64;
    }
    long long width = (width64 + 63) >> 6;
    long long room = (long long)rightLimit - x;
    long long start = x;
    if (width < room) {
        if (align == 1) start = x + (room - width) / 2;
        else if (align == 2) start = rightLimit - width;
    }

    // Columns and rows that may change: the room between x and the limit,
    // within the buffer.
    long long left = x < 0 ? 0 : x;
    long long right = rightLimit > buffer->width ? buffer->width : rightLimit;
    if (left >= right) return 1;

    if (backColour != 0) {
        long long x0 = start < left ? left : start, x1 = start + width > right ? right : start + width;
        long long y0 = y < 0 ? 0 : y, y1 = y + lineHeight > buffer->height ? buffer->height : y + lineHeight;
        for (long long row = y0; row < y1; row++)
            for (long long col = x0; col < x1; col++)
                buffer->pixels[row * buffer->width + col] = backColour;
    }

    long long pen64 = start * 64, baseline = (long long)y + ascent;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        const Glyph &g = glyph(fontSize, *p);
        if (!g.drawn) continue;
        long long gx = ((pen64 + 32) >> 6) + g.left, gy = baseline - g.top;
        pen64 += g.advance64;
        if (!g.bitmap) continue;
        for (unsigned r = 0; r < g.rows; r++) {
            long long row = gy + r;
            if (row < 0 || row >= buffer->height) continue;
            const unsigned char *src = g.bitmap + (size_t)r * g.width;
            uint32_t *dst = buffer->pixels + row * buffer->width;
            for (unsigned c = 0; c < g.width; c++) {
                long long col = gx + c;
                if (col >= left && col < right && src[c])
                    dst[col] = pictureBlend(dst[col], textColour, src[c]);
            }
        }
        if (pen64 >> 6 >= right) break;
    }
    return 1;
}

int pictureWritePng(const char *path, const PictureBuffer *buffer) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd >= 0 && pictureWritePngFd(fd, buffer);
}

namespace {

void putBig32(std::vector<unsigned char> &out, uint32_t v) {
    unsigned char b[4] = {(unsigned char)(v >> 24), (unsigned char)(v >> 16), (unsigned char)(v >> 8),
                          (unsigned char)v};
    out.insert(out.end(), b, b + 4);
}

// Closes the chunk whose length field stands at start: its length and CRC.
void endChunk(std::vector<unsigned char> &out, size_t start) {
    uint32_t length = (uint32_t)(out.size() - start - 8);
    for (int i = 0; i < 4; i++) out[start + i] = (unsigned char)(length >> (24 - 8 * i));
    putBig32(out, (uint32_t)crc32(0, out.data() + start + 4, (uInt)(length + 4)));
}

size_t startChunk(std::vector<unsigned char> &out, const char *type) {
    size_t start = out.size();
    putBig32(out, 0);
    out.insert(out.end(), type, type + 4);
    return start;
}

// The picture's rows go in bands of kBandRows, each band deflated on its
// own (a raw deflate stream ended by a sync flush, so that the bands'
// bytes follow one another as one stream): a repaint that changes a few
// bands (the progress bar, a line of text) deflates those alone and takes
// the others' bytes from the picture before.  Each row is filtered "up"
// when it repeats the row above within its band (all zeros then) and
// "sub" otherwise (a run of one colour becomes zeros); zlib's run-length
// strategy at level 1 packs flat panels well.
const int kBandRows = 16;

struct Band {
    std::vector<unsigned char> deflated;  // raw deflate, ending on a byte after a sync flush
    uLong adler;                          // adler32 of the band's filtered rows
    uLong length;                         // their length
};

// The bands of the last picture written and its pixels.
std::vector<Band> gBands;
std::vector<uint32_t> gLastPixels;
int gLastWidth, gLastHeight;

bool deflateBand(const uint32_t *pixels, int w, int rows, Band &band) {
    static std::vector<unsigned char> filtered;
    size_t stride = (size_t)w * 3 + 1;
    filtered.resize(stride * rows);
    for (int y = 0; y < rows; y++) {
        const uint32_t *src = pixels + (size_t)y * w;
        unsigned char *line = filtered.data() + stride * y, *dst = line + 1;
        if (y > 0 && memcmp(src, src - w, (size_t)w * 4) == 0) {
            line[0] = 2;  // up: the same as the row above
            memset(dst, 0, (size_t)w * 3);
        } else {
            line[0] = 1;  // sub: the difference to the pixel on the left
            uint32_t left = 0;
            for (int x = 0; x < w; x++) {
                uint32_t c = src[x];
                dst[3 * x] = (unsigned char)((c >> 16) - (left >> 16));
                dst[3 * x + 1] = (unsigned char)((c >> 8) - (left >> 8));
                dst[3 * x + 2] = (unsigned char)(c - left);
                left = c;
            }
        }
    }
    static z_stream z;
    static bool ready = false;
    if (!ready) {
        if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_RLE) != Z_OK) return false;
        ready = true;
    } else if (deflateReset(&z) != Z_OK) {
        return false;
    }
    band.length = (uLong)filtered.size();
    band.adler = adler32(adler32(0, nullptr, 0), filtered.data(), (uInt)filtered.size());
    band.deflated.resize(deflateBound(&z, (uLong)filtered.size()) + 64);
    z.next_in = filtered.data();
    z.avail_in = (uInt)filtered.size();
    z.next_out = band.deflated.data();
    z.avail_out = (uInt)band.deflated.size();
    int r = deflate(&z, Z_SYNC_FLUSH);
    if (r != Z_OK || z.avail_in != 0 || z.avail_out == 0) return false;
    band.deflated.resize(band.deflated.size() - z.avail_out);
    return true;
}

// An opaque RGB PNG of the buffer, from the bands of the last picture
// where their pixels are the same.
bool encodePng(const PictureBuffer *buffer, std::vector<unsigned char> &out) {
    const int w = buffer->width, h = buffer->height;
    if (w <= 0 || h <= 0) return false;
    size_t count = (size_t)w * h;
    int bands = (h + kBandRows - 1) / kBandRows;
    bool again = w == gLastWidth && h == gLastHeight && (int)gBands.size() == bands;
    if (!again) {
        gBands.assign((size_t)bands, Band{});
        gLastPixels.assign(count, 0);
    }
    for (int b = 0; b < bands; b++) {
        int first = b * kBandRows, rows = std::min(kBandRows, h - first);
        size_t at = (size_t)first * w, n = (size_t)rows * w;
        if (again && !gBands[b].deflated.empty() &&
            memcmp(gLastPixels.data() + at, buffer->pixels + at, n * 4) == 0)
            continue;
        if (!deflateBand(buffer->pixels + at, w, rows, gBands[b])) {
            gBands.clear();
            gLastWidth = gLastHeight = 0;
            return false;
        }
        memcpy(gLastPixels.data() + at, buffer->pixels + at, n * 4);
    }
    gLastWidth = w, gLastHeight = h;

    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.assign(signature, signature + 8);
    size_t chunk = startChunk(out, "IHDR");
    putBig32(out, (uint32_t)w);
    putBig32(out, (uint32_t)h);
    const unsigned char header[5] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, filters, no interlace
    out.insert(out.end(), header, header + 5);
    endChunk(out, chunk);

    chunk = startChunk(out, "IDAT");
    const unsigned char zlibHeader[2] = {0x78, 0x01};  // deflate, 32K window, fastest
    out.insert(out.end(), zlibHeader, zlibHeader + 2);
    uLong adler = adler32(0, nullptr, 0);
    for (const Band &band : gBands) {
        out.insert(out.end(), band.deflated.begin(), band.deflated.end());
        adler = adler32_combine(adler, band.adler, (z_off_t)band.length);
    }
    // the last block: empty, stored, final
    const unsigned char last[5] = {0x01, 0x00, 0x00, 0xFF, 0xFF};
    out.insert(out.end(), last, last + 5);
    putBig32(out, (uint32_t)adler);
    endChunk(out, chunk);
    endChunk(out, startChunk(out, "IEND"));
    return true;
}

}  // namespace

int pictureWritePngFd(int fd, const PictureBuffer *buffer) {
    static std::vector<unsigned char> png;
    if (!encodePng(buffer, png)) {
        close(fd);
        return 0;
    }
    size_t done = 0;
    while (done < png.size()) {
        ssize_t n = write(fd, png.data() + done, png.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += (size_t)n;
    }
    return close(fd) == 0 && done == png.size();
}

#else

int pictureText(PictureBuffer *, int, int, int, const char *, uint32_t, uint32_t, int, int) { return 0; }

int pictureWritePng(const char *, const PictureBuffer *) { return 0; }

int pictureWritePngFd(int fd, const PictureBuffer *) {
    close(fd);
    return 0;
}

#endif
