/*
 * Stacker: a TAP for the stand-in's closing summary.  It keeps the support
 * library's directory stack and blocks of the firmware heap as its keys
 * say: OK saves the working directory, changes to the disk root and takes
 * a block; BACK restores the last saved directory and gives the last block
 * back; FORWARD prints the working directory; EXIT ends the TAP with what
 * it holds.
 */
#include "tap.h"
#include "velalib.h"

TAP_ID(0x51525696);
TAP_PROGRAM_NAME("Stacker");
TAP_AUTHOR_NAME("Zephyrdesk team");
TAP_DESCRIPTION("Keeps directories and heap blocks");
TAP_PROGRAM_VERSION("1.0");
TAP_ETCINFO("Feb 29 2016");

enum { MAX_BLOCKS = 32 };
static void *blocks[MAX_BLOCKS];
static int held = 0;

dword TAP_EventHandler(word event, dword param1, dword param2) {
    (void)param2;
    if (event != EVT_KEY) return param1;
    switch (param1) {
    case KEY_OK_REMOTE:
        HDD_TAP_PushDir();
        TAP_Hdd_ChangeDir("/");
        if (held < MAX_BLOCKS) blocks[held++] = TAP_MemAlloc(16);
        return 0;
    case KEY_BACK_REMOTE_2:
        HDD_TAP_PopDir();
        if (held > 0) TAP_MemFree(blocks[--held]);
        return 0;
    case 0x10013: {
        char dir[PATH_BUFFER_SIZE] = "";
        HDD_TAP_GetCurrentDir(dir);
        TAP_Print("dir %s\n", dir);
        return 0;
    }
    case KEY_EXIT_REMOTE:
        TAP_Exit();
        return 0;
    default:
        return param1;
    }
}

int TAP_Main(void) { return 1; }

extern "C" int __TAP_Init_(TapEntryRecord *record) {
    record->main = TAP_Main;
    record->eventHandler = TAP_EventHandler;
    return 0;
}
