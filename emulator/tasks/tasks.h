/*
 * The firmware's task table: the 16 slots that the TAPs look up by name
 * ("_tapTask"), the current-slot variable ("_curTapTask"), the records
 * behind each slot, and the running of a slot's code as the firmware does
 * it (entry points, events, the end of a TAP).  Builds on the base and
 * platform rooms.
 */
#ifndef EMULATOR_TASKS_TASKS_H
#define EMULATOR_TASKS_TASKS_H

#include <stdint.h>

#include <string>

#include "../base/base.h"

/* One slot of the task table as the firmware lays it out: eleven words,
 * 32 bits on the receiver, pointer-sized on a PC. */
typedef uintptr_t EmuWord;
struct EmuTaskSlot {
    EmuWord state;          /* word 0: 1 running, 2 end requested */
    EmuWord word1;
    EmuWord *file;          /* word 2: file object */
    EmuWord word3[2];
    EmuEventHandler handler; /* word 5 */
    EmuWord word6[4];
    EmuWord *currentDir;    /* word 10: current-directory object */
};

enum {
    EMU_SLOTS = 16,
    EMU_STATE_RUNNING = 1,
    EMU_STATE_TERMINATE = 2,
    EMU_FILE_PATH_WORD = 36,   /* byte 144 of the file object on the receiver */
    EMU_PATH_MAGIC_WORD = 0,
    EMU_PATH_TEXT_WORD = 2,
    EMU_DIR_TEXT_WORD = 1,
};
#define EMU_PATH_MAGIC 0xCDACEDAFu

extern "C" EmuTaskSlot _tapTask[EMU_SLOTS];
extern "C" int _curTapTask;

/* Per-slot bookkeeping that is not part of the firmware's table. */
struct EmuSlotInfo {
    bool used = false;
    bool exitCalled = false;
    std::string firmwarePath;        /* "/ProgramFiles/x.tap" */
    std::string cwd;                 /* "/ProgramFiles" */
    dword id = 0;
    int history = -1;                /* index into the start history: the TAP's number */
    void *code = nullptr;            /* dlopen handle of a loaded TAP file, null for a program */
};
extern EmuSlotInfo emuSlots[EMU_SLOTS];

/* Empties the table and the start history. */
void tasksReset(void);

/* Ends every TAP still running and writes one SLOT line per TAP started
 * since the last reset to the trace: slot, file, ID, the heap blocks it
 * still holds, the depth of its directory stack when it ended (the
 * support library's TAPDirStackDepth in the TAP file, "unknown" without
 * one) and how it ended. */
void tasksStop(void);

/* Claims a free slot for a TAP file or program: fills its records, state 1
 * (running).  cwd null: the folder of firmwarePath.  -1 when the table is
 * full. */
int emuClaimSlot(const char *firmwarePath, const char *cwd, EmuEventHandler handler, dword id);

/* Frees a slot; reason goes into the closing summary. */
void emuEndSlot(int slot, const char *reason);

/* The number of the TAP in _curTapTask (its place in the start history),
 * -1 when no TAP runs there; and the count of the heap blocks a TAP holds
 * (change +1 when it takes one, -1 when one is given back). */
int emuCurrentTap(void);
void emuCountHeapBlock(int tap, int change);

/* The working directory of the slot in _curTapTask ("/" for none), and
 * the change of a slot's working directory. */
std::string emuCurrentCwd(void);
void emuSetSlotCwd(int slot, const std::string &cwd);

/* Calls code of a slot as the firmware does: _curTapTask holds the slot,
 * TAP_Sleep counting starts afresh, a hung TAP is caught.  Returns 1 when
 * the call returned, 0 when the TAP hung and was ended. */
int emuRunInSlot(int slot, void (*run)(void *), void *context);

/* TAP_Sleep and TAP_Exit of the TAP in _curTapTask. */
void emuSleepCalled(void);
void emuEndRequested(void);

#endif
