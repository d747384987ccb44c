/*
 * Sketch: a small TAP for the stand-in's own tests.  On its first event it
 * takes the screen and draws a frame with a title; OK repaints the box in
 * the next colour, the forward and back keys write a line to the console,
 * 9 writes "pts N" to each of /dev/pts/0 to /dev/pts/5 that opens, EXIT gives the screen back and ends the TAP.  Keys it does not know it
 * hands back.
 */
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "tap.h"

TAP_ID(0x51525699);
TAP_PROGRAM_NAME("Sketch");
TAP_AUTHOR_NAME("Zephyrdesk team");
TAP_DESCRIPTION("Draws, takes keys and exits");
TAP_PROGRAM_VERSION("1.0");
TAP_ETCINFO("Feb 29 2016");

static int region = 0;
static int started = 0;
static int colourIndex = 0;
static const dword colours[3] = {0xFF202080, 0xFF208020, 0xFF802020};

static void paint(void) {
    TAP_Osd_FillBox(region, 100, 100, 520, 376, colours[colourIndex]);
    TAP_Osd_DrawRectangle(region, 100, 100, 520, 376, 4, 0xFFFFFFFF);
    TAP_Osd_PutS(region, 100, 120, 620, "Sketch \"1\"", 0xFFFFFFFF, 0, 0, 1, 0, 1);
    TAP_Osd_Sync();
}

static void console(const char *text) {
    int fd = open("/dev/pts/0", O_RDWR);
    if (fd < 0) return;
    if (write(fd, text, strlen(text) + 1) < 0) TAP_Print("console write failed\n");
    close(fd);
}

/* "pts N" to every terminal that opens, then whether the descriptors
 * came back as they were. */
static void terminals(void) {
    int before = open("/dev/null", O_RDONLY);
    if (before >= 0) close(before);
    for (int n = 0; n <= 5; n++) {
        char path[16], text[16];
        TAP_SPrint(path, "/dev/pts/%d", n);
        TAP_SPrint(text, "pts %d\n", n);
        int fd = open(path, O_RDWR);
        if (fd < 0) continue;
        if (write(fd, text, strlen(text) + 1) < 0) TAP_Print("console write failed\n");
        close(fd);
    }
    int after = open("/dev/null", O_RDONLY);
    if (after >= 0) close(after);
    TAP_Print(before == after ? "terminals: descriptors as before\n" : "terminals: a descriptor stays open\n");
}

dword TAP_EventHandler(word event, dword param1, dword param2) {
    (void)param2;
    if (!started) {
        started = 1;
        TAP_ExitNormal();
        region = TAP_Osd_Create(0, 0, 720, 576, 0, 0x1000);
        paint();
    }
    if (event != EVT_KEY) return param1;
    switch (param1) {
    case KEY_OK_REMOTE:
        colourIndex = (colourIndex + 1) % 3;
        paint();
        return 0;
    case 0x10013:
        console("forward\n");
        return 0;
    case KEY_BACK_REMOTE_2:
        console("back\n");
        return 0;
    case 0x10009:
        terminals();
        return 0;
    case KEY_EXIT_REMOTE:
        TAP_Osd_Delete(region);
        TAP_Osd_Sync();
        TAP_EnterNormal();
        TAP_Exit();
        return 0;
    default:
        TAP_Print("key 0x%X left alone\n", (unsigned)param1);
        return param1;
    }
}

int TAP_Main(void) { return 1; }

extern "C" int __TAP_Init_(TapEntryRecord *record) {
    record->main = TAP_Main;
    record->eventHandler = TAP_EventHandler;
    return 0;
}
