/*
 * Saboteur: a TAP loaded before the installer that takes away, on its
 * first event, what the installer needs to find itself.  Built as
 * Remover, which removes the installer's file from the disk (through the
 * shell, as any TAP can), and Unmarker, which spoils the magic word of the
 * installer's path record in the firmware's task table (found by name,
 * "_tapTask", in the global scope as the support library finds it).  Both
 * say on the firmware's console what they did and hand every event back.
 */
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include "tap.h"
#include "velalib.h"

TAP_ID(SABOTEUR_ID);
TAP_PROGRAM_NAME(SABOTEUR_NAME);

static const char installerName[] = "/Zephyrdesk-Install.tap";

/* The running slot whose path record names the installer's file, or -1;
 * *record becomes that path record. */
static int installerSlot(TapTaskEntry *table, TapWord **record) {
    for (int slot = 0; slot < TAP_TASK_SLOTS; slot++) {
        if (table[slot].State != TAP_STATE_RUNNING || table[slot].File == NULL) continue;
        TapWord *path = (TapWord *)table[slot].File[FILE_OBJECT_PATH_RECORD_WORD];
        const char *text = path ? (const char *)path[PATH_RECORD_PATH_WORD] : NULL;
        size_t length = text ? strlen(text) : 0;
        if (length < sizeof installerName - 1 || strcmp(text + length - (sizeof installerName - 1), installerName))
            continue;
        *record = path;
        return slot;
    }
    return -1;
}

static void sabotage(void) {
    void *global = dlopen(NULL, RTLD_LAZY | RTLD_GLOBAL);
    TapTaskEntry *table = global ? (TapTaskEntry *)dlsym(global, "_tapTask") : NULL;
    if (global) dlclose(global);
    TapWord *record = NULL;
    int slot = table ? installerSlot(table, &record) : -1;
    if (slot < 0) {
        TAP_Print("%s: no installer running\n", SABOTEUR_NAME);
        return;
    }
#ifdef SABOTEUR_REMOVE
    char command[600];
    TAP_SPrint(command, "rm %s", (const char *)record[PATH_RECORD_PATH_WORD]);
    TAP_Print("%s: '%s' -> %d\n", SABOTEUR_NAME, command, system(command));
#else
    record[0] = (TapWord)0x0BADF00Du;
    TAP_Print("%s: path record of slot %d spoilt\n", SABOTEUR_NAME, slot);
#endif
}

dword TAP_EventHandler(word event, dword param1, dword param2) {
    (void)event, (void)param2;
    static int done = 0;
    if (!done) {
        done = 1;
        sabotage();
    }
    return param1;
}

int TAP_Main(void) { return 1; }

extern "C" int __TAP_Init_(TapEntryRecord *record) {
    record->main = TAP_Main;
    record->eventHandler = TAP_EventHandler;
    return 0;
}
