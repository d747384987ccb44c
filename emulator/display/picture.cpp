// Text and PNG pictures of the stand-in's display.  The PC build draws
// with FreeType and writes PNGs with libpng; the receiver build has
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

#include <fcntl.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>

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

}  // namespace

int pictureText(PictureBuffer *buffer, int x, int y, int rightLimit, const char *text,
                uint32_t textColour, uint32_t backColour, int fontSize, int align) {
    if (!loadFonts()) return 0;
    FT_Face face = faceForSize(fontSize);
    long long ascent = (face->size->metrics.ascender + 63) >> 6;
    long long lineHeight = ascent + ((-face->size->metrics.descender + 63) >> 6);

    // The advance of the whole string in 1/64 pixel.
    long long width64 = 0;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        FT_UInt g = glyphFor(face, *p);
        if (g && FT_Load_Glyph(face, g, FT_LOAD_DEFAULT) == 0) width64 += face->glyph->advance.x;
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
        FT_UInt g = glyphFor(face, *p);
        if (!g || FT_Load_Glyph(face, g, FT_LOAD_RENDER) != 0) continue;
        FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap &bm = slot->bitmap;
        long long gx = ((pen64 + 32) >> 6) + slot->bitmap_left, gy = baseline - slot->bitmap_top;
        pen64 += slot->advance.x;
        if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.pitch <= 0) continue;
        for (unsigned r = 0; r < bm.rows; r++) {
            long long row = gy + r;
            if (row < 0 || row >= buffer->height) continue;
            const unsigned char *src = bm.buffer + (size_t)r * bm.pitch;
            uint32_t *dst = buffer->pixels + row * buffer->width;
            for (unsigned c = 0; c < bm.width; c++) {
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

int pictureWritePngFd(int fd, const PictureBuffer *buffer) {
    FILE *f = fdopen(fd, "wb");
    if (!f) {
        close(fd);
        return 0;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    png_bytep row = (png_bytep)malloc((size_t)buffer->width * 3);
    if (!png || !info || !row) {
        png_destroy_write_struct(&png, &info);
        free(row);
        fclose(f);
        return 0;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        free(row);
        fclose(f);
        return 0;
    }
    png_init_io(png, f);
    // The installer redraws hundreds of times in a run: speed over size.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, buffer->width, buffer->height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < buffer->height; y++) {
        const uint32_t *src = buffer->pixels + (size_t)y * buffer->width;
        for (int x = 0; x < buffer->width; x++) {
            row[3 * x] = (png_byte)(src[x] >> 16);
            row[3 * x + 1] = (png_byte)(src[x] >> 8);
            row[3 * x + 2] = (png_byte)src[x];
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    free(row);
    return fclose(f) == 0;
}

#else

int pictureText(PictureBuffer *, int, int, int, const char *, uint32_t, uint32_t, int, int) { return 0; }

int pictureWritePng(const char *, const PictureBuffer *) { return 0; }

int pictureWritePngFd(int fd, const PictureBuffer *) {
    close(fd);
    return 0;
}

#endif
