/*
 * tapemu: a stand-in for the receiver's firmware on a PC (and under
 * qemu-mipsel).  It is built as the shared library libtapfirmware.so,
 * which plays the firmware's role in a process: it exports the
 * firmware's variables and routines that TAPs look up by name
 * ("_tapTask", "_curTapTask", "PvrTimeToLinux"), implements every TAP_
 * call, and stands between a TAP and libc for the calls that take a path,
 * so that /mnt/hd lands in a disk folder and nothing outside that folder
 * and the output folder can be changed.
 *
 * The tapemu program is a thin main around tapemuMain().  Tests link the
 * same library and drive it through the calls below: either they load
 * real TAP files, or they attach the test program itself as a TAP
 * (emuAttachProgram) and call its code directly.
 */
#ifndef EMULATOR_TAPEMU_H
#define EMULATOR_TAPEMU_H

#include <stddef.h>

#include "../firmware/tap.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A TAP's event handler. */
typedef dword (*EmuEventHandler)(word event, dword p1, dword p2);

typedef struct {
    const char *disk;  /* existing folder that stands in for /mnt/hd */
    const char *out;   /* output folder, created when missing */
    int language;      /* what TAP_GetSystemVar(1) answers */
    int fixedTime;     /* non-zero: the clock stands at the time below */
    int year, month, day, hour, minute, second;
    int utf8Firmware;  /* export "_Z26Appl_ConvertToValidUTF8StrPhi" */
    int firstPts;      /* first /dev/pts/N that opens; -1: none opens */
    int traceAll;      /* trace TAP_SPrint and the TAP_Mem calls too */
    int pictures;      /* a PNG per TAP_Osd_Sync (PC build only) */
    int chdirOk;       /* what TAP_Hdd_ChangeDir answers for a change it made */
    int chdirFail;     /* ... and for one it refused (never chdirOk) */
    int cwdSlash;      /* the working-directory record ends with "/":
                          "/mnt/hd/", "/mnt/hd/ProgramFiles/"; 0: "/mnt/hd",
                          "/mnt/hd/ProgramFiles" */
    const char *const *faults; /* faults to inject into the TAPs' calls, as
                          tapemu's options give them, option and value, ending
                          with null: {"--fail", "open:EIO@3", "--disk-full",
                          "5000", NULL}; null: none (see the README) */
    int traceCalls;    /* trace every call that the faults count */
    int noOutputs;     /* non-zero: neither trace.txt nor console.bin is
                          written (runs of millions of inputs would fill
                          any file); the console then opens nowhere */
} EmuOptions;

/* What TAP_GetVersion answers: above 0xFFFF, so that a TAP keeps only the
 * low 16 bits (0xABCD) where it keeps a 16-bit version. */
#define EMU_FIRMWARE_VERSION 0x0012ABCDu

/* Fills *options with the defaults: language 0, the PC's clock, no UTF-8
 * firmware, pseudo-terminal 0 opens first, short trace, pictures on,
 * TAP_Hdd_ChangeDir answers 0 for a change and -1 for a refusal (so that
 * taking "non-zero" for success is wrong both ways), the working-directory
 * record without a final "/". */
void emuDefaultOptions(EmuOptions *options);

/* Starts a fresh receiver: empties the task table, opens trace.txt and
 * console.bin in the output folder (a link in their place is replaced,
 * never followed), maps /mnt/hd to the disk folder, turns on
 * confinement and the faults, whose counts start at 0.  The strings in
 * options are copied.  Returns 1, or 0 with a one-line reason in err (a
 * bad fault among them). */
int emuStart(const EmuOptions *options, char *err, size_t errSize);

/* Ends every running TAP, writes the closing summary to the trace (one
 * SLOT line per TAP started: its slot, file, ID, the heap blocks it still
 * holds, the depth of its directory stack, how it ended), closes the
 * outputs, unloads the TAPs and removes their private copies.  emuStart
 * may be called again afterwards. */
void emuStop(void);

/* Loads a TAP file as the firmware's loader does and starts it
 * (__TAP_Init_, TAP_Main).  path is a firmware path inside the disk
 * ("/ProgramFiles/x.tap") or a PC path, which is first copied into the
 * disk's /ProgramFiles.  The code runs from a private copy of the file, so
 * that rewriting the file on the disk does not touch the loaded TAP and
 * every load has globals of its own; the slot's path record names the
 * file on the disk.  Returns the slot, or -1 with a reason in err. */
int emuLoadTap(const char *path, char *err, size_t errSize);

/* Makes the calling program a TAP in a free slot: fills its own TAP_
 * pointers (it must export them, see tests/CMakeLists.txt), records
 * firmwarePath ("/ProgramFiles/x.tap") as its file and cwd ("/ProgramFiles")
 * as its working directory, registers handler (may be null) and makes it
 * the current slot.  Returns the slot, or -1. */
int emuAttachProgram(const char *firmwarePath, const char *cwd, EmuEventHandler handler);

/* Delivers one event to one slot as the firmware does: _curTapTask holds
 * the slot during the call, an EVENT line goes to the trace, and a TAP
 * that called TAP_Exit or whose state became 2 ends when the call
 * returns.  Returns the handler's result (0 for a slot without one). */
dword emuDeliver(int slot, word event, dword p1, dword p2);

/* Delivers one event to every running TAP that has a handler, in slot
 * order; a key that a handler answers with 0 goes no further.  Returns the
 * last result. */
dword emuBroadcast(word event, dword p1, dword p2);

/* 1 while the slot holds a running TAP. */
int emuSlotRunning(int slot);

/* Sets the receiver's clock (it stands still there). */
void emuSetTime(int year, int month, int day, int hour, int minute, int second);

/* How often a TAP looked the firmware symbol up by name since emuStart. */
unsigned emuLookupCount(const char *name);

/* Hides a firmware symbol from the TAPs' lookups by name (hidden non-zero:
 * the counted dlsym fails for that name as on firmware without it; 0: it
 * is found again).  Lookups of a hidden name still count. */
void emuHideSymbol(const char *name, int hidden);

/* Holds the firmware heap to bytes in use at a time (0: no limit, the
 * default); a TAP_MemAlloc beyond it returns 0. */
void emuSetHeapLimit(size_t bytes);

/* Firmware heap blocks taken by TAP_MemAlloc and not yet given back by
 * TAP_MemFree since the receiver started: all of them, and those of the
 * TAP now in a slot (a block belongs to the TAP in _curTapTask when it is
 * taken). */
unsigned emuHeapBlocksInUse(void);
unsigned emuSlotHeapBlocks(int slot);

/* The address of a symbol of the TAP file loaded in a slot (in its own
 * copy of the file), found with the real dlsym; null when the slot holds
 * no loaded file or the file has no such symbol. */
void *emuTapSymbol(int slot, const char *name);

/* How many pictures (screen-NNNN.png) the receiver has written. */
int emuPictureCount(void);

/* Firmware heap blocks in use: TAP_MemAlloc blocks not yet given back
 * with TAP_MemFree. */
unsigned emuHeapBlocksInUse(void);

/* The colour of one pixel of a region's framebuffer, 0 outside it. */
dword emuOsdPixel(int region, int x, int y);

/* The host folder behind /mnt/hd and the output folder. */
const char *emuDiskFolder(void);
const char *emuOutFolder(void);

/* The command line of the tapemu program; returns its exit status. */
int tapemuMain(int argc, char **argv);

#ifdef __cplusplus
}
#endif

#endif
