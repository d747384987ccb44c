/*
 * The receiver's on-screen display in the stand-in firmware.  A region is
 * an ARGB framebuffer (0xAARRGGBB) of its own size at a position on the
 * 720 x 576 screen, cleared to 0 (transparent) when it is created.  Every
 * drawing call is clipped to its region and to the box it is given, so
 * no argument, however absurd, writes outside the framebuffer.
 *
 * Handles are small integers from 1 to OSD_MAX_REGIONS; a deleted
 * region's handle is handed out again (the lowest free one first).
 *
 * The drawing calls are kept and put into the pixels only when the pixels
 * are read (osdPixel, osdCompose, osdWritePng), in the order they came:
 * what is read is what drawing at once would have given.
 */
#ifndef EMULATOR_OSD_H
#define EMULATOR_OSD_H

#include <stdint.h>

enum { OSD_MAX_REGIONS = 16, OSD_SCREEN_WIDTH = 720, OSD_SCREEN_HEIGHT = 576 };

/* A new region cleared to 0: its handle >= 1, or 0 when all handles are in
 * use, the size is not positive or too large, or memory ran out. */
int osdCreate(int x, int y, int width, int height);

/* Frees the region: 0, or -1 for an unknown region. */
int osdDelete(int region);

/* Sets every pixel of the box (x, y, w, h) to colour: 0, or -1 for an
 * unknown region. */
int osdFillBox(int region, int x, int y, int w, int h, uint32_t colour);

/* The outline of the box (x, y, w, h), thickness pixels wide along its
 * inside; a box too small for two bands is filled.  0, or -1 for an
 * unknown region. */
int osdDrawRectangle(int region, int x, int y, int w, int h, int thickness, uint32_t colour);

/* Draws the ISO 8859-1 string with its top at y, anti-aliased over what is
 * there, never left of x nor at or beyond rightLimit.  align 0 puts it at
 * x, 1 centres it between x and rightLimit, 2 ends it at rightLimit; text
 * too wide for the room starts at x.  fontSize 0 is small, 1 the normal
 * size (fits a 30-pixel button), 2 a larger bold title.  backColour 0 is
 * transparent, another colour fills the text's box first.  fontType and
 * dot are accepted and not used.  0, or -1 for an unknown region or a
 * null string.  Draws nothing in a build without pictures. */
int osdPutS(int region, int x, int y, int rightLimit, const char *text, uint32_t textColour,
            uint32_t backColour, int fontType, int fontSize, int dot, int align);

/* The pixel at (x, y) of the region's own framebuffer, 0 outside it or
 * for an unknown region. */
uint32_t osdPixel(int region, int x, int y);

/* The screen as the viewer sees it, into screen (OSD_SCREEN_WIDTH *
 * OSD_SCREEN_HEIGHT ARGB pixels, row after row): black, with every region
 * painted over it at its position in the order of creation. */
void osdCompose(uint32_t *screen);

/* Writes the screen of osdCompose as a PNG.  1 written, 0 not (always 0
 * in a build without pictures). */
int osdWritePng(const char *path);

/* Deletes every region. */
void osdReset(void);

#endif
