/*
 * What differs between the builds of the stand-in's display: on the PC
 * (TAPEMU_PICTURES=1) text is drawn with FreeType and screens are saved
 * as PNG files made with zlib; on the receiver build (TAPEMU_PICTURES=0) neither library
 * exists, text draws nothing and no picture is written.
 */
#ifndef EMULATOR_PICTURE_H
#define EMULATOR_PICTURE_H

#include <stdint.h>

/* An ARGB framebuffer, width * height pixels, row after row. */
typedef struct {
    uint32_t *pixels;
    int width, height;
} PictureBuffer;

/* Draws text into buffer as osdPutS describes, clipped to the buffer and
 * to the room between x and rightLimit.  Returns 1 when the font is
 * loaded (the text was drawn), 0 otherwise. */
int pictureText(PictureBuffer *buffer, int x, int y, int rightLimit, const char *text,
                uint32_t textColour, uint32_t backColour, int fontSize, int align);

/* Writes an opaque RGB PNG of the buffer to path: 1 written, 0 not.  The
 * parts of the picture whose pixels are those of the last picture
 * written are not compressed again. */
int pictureWritePng(const char *path, const PictureBuffer *buffer);

/* The same into a file open for writing; closes fd in any case. */
int pictureWritePngFd(int fd, const PictureBuffer *buffer);

/* Colour c painted over colour d with c's alpha scaled by coverage
 * (0..255): the source-over rule for ARGB. */
uint32_t pictureBlend(uint32_t d, uint32_t c, unsigned coverage);

#endif
