/*
 * The firmware's TAP_ calls by name: what the loader fills into a TAP's
 * call pointers.  Every call writes its trace line (TAP_SPrint and the
 * TAP_Mem calls only in the full trace) with its arguments in call order
 * and its result.
 */
#include "entries.h"

struct CallEntry {
    const char *name;
    void *address;
};

static const CallEntry calls[] = {
    {"TAP_Osd_Create", (void *)fwOsdCreate},
    {"TAP_Osd_Delete", (void *)fwOsdDelete},
    {"TAP_Osd_FillBox", (void *)fwOsdFillBox},
    {"TAP_Osd_DrawRectangle", (void *)fwOsdDrawRectangle},
    {"TAP_Osd_PutS", (void *)fwOsdPutS},
    {"TAP_Osd_Sync", (void *)fwOsdSync},
    {"TAP_ExitNormal", (void *)fwExitNormal},
    {"TAP_EnterNormal", (void *)fwEnterNormal},
    {"TAP_Hdd_ChangeDir", (void *)fwHddChangeDir},
    {"TAP_Hdd_Exist", (void *)fwHddExist},
    {"TAP_Hdd_Create", (void *)fwHddCreate},
    {"TAP_MemAlloc", (void *)fwMemAlloc},
    {"TAP_MemFree", (void *)fwMemFree},
    {"TAP_MemCmp", (void *)fwMemCmp},
    {"TAP_MemCpy", (void *)fwMemCpy},
    {"TAP_SPrint", (void *)fwSPrint},
    {"TAP_Print", (void *)fwPrint},
    {"TAP_GetTime", (void *)fwGetTime},
    {"TAP_ExtractMjd", (void *)fwExtractMjd},
    {"TAP_MakeMjd", (void *)fwMakeMjd},
    {"TAP_GetVersion", (void *)fwGetVersion},
    {"TAP_GetSystemVar", (void *)fwGetSystemVar},
    {"TAP_Sleep", (void *)fwSleep},
    {"TAP_Exit", (void *)fwExit},
};

int emuFillCalls(void *(*lookup)(void *, const char *), void *context) {
    int filled = 0;
    for (const CallEntry &c : calls) {
        void **pointer = (void **)lookup(context, c.name);
        if (!pointer) continue;
        *pointer = c.address;
        filled++;
    }
    return filled;
}
