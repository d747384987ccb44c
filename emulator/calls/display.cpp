/*
 * The firmware's OSD calls: regions drawn by the display room, and one
 * picture per TAP_Osd_Sync when the receiver writes pictures (on the
 * receiver side in the sandbox: one frame to the host side, which writes
 * it).
 */
#include <stdio.h>

#include "entries.h"
#include "../base/channel.h"
#include "../display/osd.h"

#ifndef TAPEMU_PICTURES
#define TAPEMU_PICTURES 0
#endif

/* Pictures written since the receiver started. */
static int pictureCount = 0;

void callsResetPictures(void) { pictureCount = 0; }
int emuPictureCount(void) { return pictureCount; }

int fwOsdCreate(dword x, dword y, dword width, dword height, byte lutIndex, int flags) {
    int r = osdCreate((int)x, (int)y, (int)width, (int)height);
    traceLine("TAP_Osd_Create " + unum(x) + " " + unum(y) + " " + unum(width) + " " + unum(height) + " " +
              num(lutIndex) + " " + num(flags) + " -> " + num(r));
    return r;
}

int fwOsdDelete(word region) {
    int r = osdDelete(region);
    traceLine("TAP_Osd_Delete " + num(region) + " -> " + num(r));
    return r;
}

int fwOsdFillBox(word region, dword x, dword y, dword width, dword height, dword colour) {
    int r = osdFillBox(region, (int)x, (int)y, (int)width, (int)height, colour);
    traceLine("TAP_Osd_FillBox " + num(region) + " " + unum(x) + " " + unum(y) + " " + unum(width) + " " +
              unum(height) + " " + traceColour(colour) + " -> " + num(r));
    return r;
}

int fwOsdDrawRectangle(word region, dword x, dword y, dword width, dword height, dword thickness,
                              dword colour) {
    int r = osdDrawRectangle(region, (int)x, (int)y, (int)width, (int)height, (int)thickness, colour);
    traceLine("TAP_Osd_DrawRectangle " + num(region) + " " + unum(x) + " " + unum(y) + " " + unum(width) +
              " " + unum(height) + " " + unum(thickness) + " " + traceColour(colour) + " -> " + num(r));
    return r;
}

int fwOsdPutS(word region, dword x, dword y, dword rightLimit, const char *text, dword textColour,
                     dword backColour, byte fontType, byte fontSize, byte dot, byte align) {
    int r = osdPutS(region, (int)x, (int)y, (int)rightLimit, text, textColour, backColour, fontType, fontSize,
                    dot, align);
    traceLine("TAP_Osd_PutS " + num(region) + " " + unum(x) + " " + unum(y) + " " + unum(rightLimit) + " " +
              traceString(text) + " " + traceColour(textColour) + " " + traceColour(backColour) + " " +
              num(fontType) + " " + num(fontSize) + " " + num(dot) + " " + num(align) + " -> " + num(r));
    return r;
}

int fwOsdSync(void) {
    traceLine("TAP_Osd_Sync -> 0");
    if (TAPEMU_PICTURES && emu.options.pictures) {
        ++pictureCount;
        if (channelActive()) {
            // the host side writes the picture
            static uint32_t screen[OSD_SCREEN_WIDTH * OSD_SCREEN_HEIGHT];
            osdCompose(screen);
            channelFrame(screen, OSD_SCREEN_WIDTH, OSD_SCREEN_HEIGHT);
        } else {
            char name[32];
            snprintf(name, sizeof name, "/screen-%04d.png", pictureCount);
            osdWritePng((emu.out + name).c_str());
        }
    }
    return 0;
}

int fwExitNormal(void) {
    traceLine("TAP_ExitNormal -> 0");
    return 0;
}

int fwEnterNormal(void) {
    traceLine("TAP_EnterNormal -> 0");
    return 0;
}
