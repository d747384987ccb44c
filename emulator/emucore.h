/*
 * Inside the stand-in firmware: the state that its units share.  Not for
 * TAPs or tests; they use tapemu.h.
 */
#ifndef EMULATOR_EMUCORE_H
#define EMULATOR_EMUCORE_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "tapemu.h"

#define EMU_EXPORT extern "C" __attribute__((visibility("default")))

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
    EMU_PATH_MAX = 1024,
};
#define EMU_PATH_MAGIC 0xCDACEDAFu
#define EMU_MOUNT "/mnt/hd"

extern "C" EmuTaskSlot _tapTask[EMU_SLOTS];
extern "C" int _curTapTask;

/* The running receiver. */
struct EmuState {
    bool started = false;
    EmuOptions options{};
    std::string disk, out;           /* as given */
    std::string diskReal, outReal;   /* resolved, for confinement */
    long clockOffset = 0;            /* unused while the clock is fixed */
    bool fixedTime = false;
    long long fixedSeconds = 0;      /* Linux seconds of the fixed clock */
    int pictureCount = 0;
    void *utf8Library = nullptr;
    int dispatchDepth = 0;           /* > 0 while an entry point or event runs */
};
extern EmuState emu;

/* Per-slot bookkeeping that is not part of the firmware's table. */
struct EmuSlotInfo {
    bool used = false;
    bool exitCalled = false;
    std::string firmwarePath;        /* "/ProgramFiles/x.tap" */
    std::string cwd;                 /* "/ProgramFiles" */
    dword id = 0;
    void *handle = nullptr;          /* dlopen handle of a loaded TAP */
    int history = -1;                /* index into the start history */
    unsigned sleeps = 0;             /* TAP_Sleep calls in the current event */
};
extern EmuSlotInfo emuSlots[EMU_SLOTS];

/* Every TAP started since emuStart, for the closing summary. */
struct EmuHistory {
    int slot;
    std::string firmwarePath;
    dword id;
    std::string end;                 /* empty while running */
};
void emuHistoryAdd(int slot);
void emuEndSlot(int slot, const char *reason);

/* Trace output. */
void traceLine(const std::string &line);
std::string traceString(const char *text);
std::string traceColour(dword colour);
void traceOpen(const std::string &path);
void traceClose(void);

/* Console capture path (out/console.bin). */
std::string emuConsolePath(void);

/* Fills a TAP's TAP_ call pointers through lookup(name) -> address of the
 * pointer variable; returns how many were filled. */
int emuFillCalls(void *(*lookup)(void *, const char *), void *context);

/* Claims a free slot for a TAP file / program; -1 when the table is full. */
int emuClaimSlot(const char *firmwarePath, const char *cwd, EmuEventHandler handler, dword id);

/* Calls code of a slot as the firmware does: _curTapTask holds the slot,
 * TAP_Sleep counting starts afresh, a hung TAP is caught.  Returns 1 when
 * the call returned, 0 when the TAP hung and was ended. */
int emuRunInSlot(int slot, void (*run)(void *), void *context);
void emuSleepCalled(void);
void emuEndRequested(void);

/* Firmware disk paths. */
std::string emuNormalise(const std::string &cwd, const char *path); /* "" when none */
std::string emuHostPath(const std::string &firmwarePath);

/* The platform's calls as libc has them, bypassing the mapping. */
void *emuRealSymbol(const char *name);
void *emuRealDlsym(void *handle, const char *name);

/* Confinement and mapping, used by the shell too. */
std::string emuMapPath(const char *path);               /* /mnt/hd -> disk */
bool emuMayChange(const std::string &mapped, bool followFinalLink);

/* The built-in shell behind system(). */
int emuShell(const char *command);

/* Reads a TAP file's ID; 0 with a reason when it is no TAP. */
int emuReadTapId(const std::string &hostPath, dword *id, std::string &reason);

/* Days of the Modified Julian Date for a Gregorian date, and back. */
long emuMjdFromDate(long year, int month, int day);
void emuDateFromMjd(long mjd, long *year, int *month, int *day);

/* Current receiver time in Linux seconds (UTC). */
long long emuNowSeconds(void);

#endif
