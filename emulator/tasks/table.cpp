/*
 * The firmware's task table and current-slot variable, which TAPs look up
 * by name, the firmware's records behind each slot (file object, path
 * record, current-directory object), and the history of the TAPs started
 * since the receiver came up, for the closing summary.
 */
#include <stdio.h>
#include <string.h>

#include <vector>

#include "../platform/platform.h"
#include "tasks.h"

__attribute__((visibility("default"))) EmuTaskSlot _tapTask[EMU_SLOTS];
__attribute__((visibility("default"))) int _curTapTask = 0;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(EmuTaskSlot) == 44, "a slot is 44 bytes on the receiver");
static_assert(offsetof(EmuTaskSlot, handler) == 20, "event handler at byte 20");
static_assert(offsetof(EmuTaskSlot, currentDir) == 40, "current directory at byte 40");
static_assert(EMU_FILE_PATH_WORD * sizeof(EmuWord) == 144, "path record at byte 144");
#endif
static_assert(sizeof(EmuTaskSlot) == 11 * sizeof(EmuWord), "a slot is 11 words");

EmuSlotInfo emuSlots[EMU_SLOTS];

/* The firmware's records behind each slot: file object, path record and
 * its text, current-directory object and its text. */
static EmuWord fileObjects[EMU_SLOTS][40];
static EmuWord pathRecords[EMU_SLOTS][4];
static char pathTexts[EMU_SLOTS][EMU_PATH_MAX];
static EmuWord dirObjects[EMU_SLOTS][4];
static char dirTexts[EMU_SLOTS][EMU_PATH_MAX];

/* Every TAP started since the last reset, for the closing summary. */
struct EmuHistory {
    int slot;
    std::string firmwarePath;
    dword id;
    std::string end;                 /* empty while running */
    long heapBlocks = 0;             /* taken and not given back */
    std::string dirDepth = "unknown"; /* TAPDirStackDepth when it ended */
};
static std::vector<EmuHistory> history;

static void clearSlot(int slot) {
    memset(&_tapTask[slot], 0, sizeof _tapTask[slot]);
    memset(fileObjects[slot], 0, sizeof fileObjects[slot]);
    memset(pathRecords[slot], 0, sizeof pathRecords[slot]);
    memset(dirObjects[slot], 0, sizeof dirObjects[slot]);
    pathTexts[slot][0] = dirTexts[slot][0] = 0;
    emuSlots[slot] = EmuSlotInfo();
}

void tasksReset(void) {
    for (int i = 0; i < EMU_SLOTS; i++) clearSlot(i);
    _curTapTask = 0;
    history.clear();
}

void tasksStop(void) {
    for (int i = 0; i < EMU_SLOTS; i++)
        if (emuSlots[i].used) emuEndSlot(i, "still running at the end");
    for (const EmuHistory &h : history) {
        char line[64];
        snprintf(line, sizeof line, " id 0x%08X heap %ld dirstack ", (unsigned)h.id, h.heapBlocks);
        traceLine("SLOT " + std::to_string(h.slot) + " " + traceString(h.firmwarePath.c_str()) + line + h.dirDepth +
                  " " + h.end);
    }
    tasksReset();
}

void emuEndSlot(int slot, const char *reason) {
    if (slot < 0 || slot >= EMU_SLOTS || !emuSlots[slot].used) return;
    int h = emuSlots[slot].history;
    if (h >= 0 && h < (int)history.size() && history[h].end.empty()) {
        history[h].end = reason;
        const int *depth = emuSlots[slot].code
                               ? (const int *)emuTapObject(emuSlots[slot].code, "TAPDirStackDepth", sizeof(int))
                               : nullptr;
        if (depth) history[h].dirDepth = std::to_string(*depth);
    }
    traceLine("END " + std::to_string(slot) + " " + reason);
    // the code stays loaded until the receiver stops: pointers into it may still be on a stack
    clearSlot(slot);
}

int emuCurrentTap(void) {
    int slot = _curTapTask;
    return slot >= 0 && slot < EMU_SLOTS && emuSlots[slot].used ? emuSlots[slot].history : -1;
}

void emuCountHeapBlock(int tap, int change) {
    if (tap >= 0 && tap < (int)history.size()) history[tap].heapBlocks += change;
}

unsigned emuSlotHeapBlocks(int slot) {
    if (slot < 0 || slot >= EMU_SLOTS || !emuSlots[slot].used) return 0;
    int h = emuSlots[slot].history;
    return h >= 0 && h < (int)history.size() && history[h].heapBlocks > 0 ? (unsigned)history[h].heapBlocks : 0;
}

std::string emuCurrentCwd(void) {
    int slot = _curTapTask;
    if (slot >= 0 && slot < EMU_SLOTS && emuSlots[slot].used) return emuSlots[slot].cwd;
    return "/";
}

void emuSetSlotCwd(int slot, const std::string &cwd) {
    emuSlots[slot].cwd = cwd;
    // the record in the form the receiver plays: "/mnt/hd" or "/mnt/hd/" for the root
    std::string record = cwd == "/" ? "" : cwd;
    if (emu.options.cwdSlash) record += "/";
    snprintf(dirTexts[slot], EMU_PATH_MAX, "%s%s", EMU_MOUNT, record.c_str());
}

int emuClaimSlot(const char *firmwarePath, const char *cwd, EmuEventHandler handler, dword id) {
    if (!emu.started || !firmwarePath) return -1;
    for (int slot = 0; slot < EMU_SLOTS; slot++) {
        if (emuSlots[slot].used || _tapTask[slot].state == EMU_STATE_RUNNING) continue;
        clearSlot(slot);
        EmuSlotInfo &info = emuSlots[slot];
        info.used = true;
        info.firmwarePath = firmwarePath;
        info.id = id;
        std::string dir = cwd ? emuNormalise("/", cwd) : "";
        if (dir.empty()) {
            dir = info.firmwarePath.substr(0, info.firmwarePath.rfind('/'));
            if (dir.empty()) dir = "/";
        }
        snprintf(pathTexts[slot], EMU_PATH_MAX, "%s%s", EMU_MOUNT, firmwarePath);
        pathRecords[slot][EMU_PATH_MAGIC_WORD] = EMU_PATH_MAGIC;
        pathRecords[slot][EMU_PATH_TEXT_WORD] = (EmuWord)pathTexts[slot];
        fileObjects[slot][EMU_FILE_PATH_WORD] = (EmuWord)pathRecords[slot];
        dirObjects[slot][EMU_DIR_TEXT_WORD] = (EmuWord)dirTexts[slot];
        emuSetSlotCwd(slot, dir);
        _tapTask[slot].state = EMU_STATE_RUNNING;
        _tapTask[slot].file = fileObjects[slot];
        _tapTask[slot].handler = handler;
        _tapTask[slot].currentDir = dirObjects[slot];
        info.history = (int)history.size();
        history.push_back(EmuHistory{slot, info.firmwarePath, id, ""});
        return slot;
    }
    return -1;
}

int emuSlotRunning(int slot) {
    if (slot < 0 || slot >= EMU_SLOTS) return 0;
    return emuSlots[slot].used && _tapTask[slot].state == EMU_STATE_RUNNING;
}
