/*
 * The stand-in firmware's core: the task table and the current-slot
 * variable that TAPs look up by name, the firmware's time conversion, the
 * start and stop of a receiver, and the delivery of events to TAPs.
 */
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <setjmp.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "emucore.h"
#include "osd.h"

/* The firmware's task table and current-slot variable, found by name. */
__attribute__((visibility("default"))) EmuTaskSlot _tapTask[EMU_SLOTS];
__attribute__((visibility("default"))) int _curTapTask = 0;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(EmuTaskSlot) == 44, "a slot is 44 bytes on the receiver");
static_assert(offsetof(EmuTaskSlot, handler) == 20, "event handler at byte 20");
static_assert(offsetof(EmuTaskSlot, currentDir) == 40, "current directory at byte 40");
static_assert(EMU_FILE_PATH_WORD * sizeof(EmuWord) == 144, "path record at byte 144");
#endif
static_assert(sizeof(EmuTaskSlot) == 11 * sizeof(EmuWord), "a slot is 11 words");

EmuState emu;
EmuSlotInfo emuSlots[EMU_SLOTS];

/* The firmware's records behind each slot: file object, path record and
 * its text, current-directory object and its text. */
static EmuWord fileObjects[EMU_SLOTS][40];
static EmuWord pathRecords[EMU_SLOTS][4];
static char pathTexts[EMU_SLOTS][EMU_PATH_MAX];
static EmuWord dirObjects[EMU_SLOTS][4];
static char dirTexts[EMU_SLOTS][EMU_PATH_MAX];

static std::vector<EmuHistory> history;

/* Where a TAP hung in TAP_Sleep jumps back to. */
static sigjmp_buf *hangReturn = nullptr;
static unsigned sleepsThisEvent = 0;
static const unsigned SLEEPS_UNTIL_HUNG = 1000;

/* Firmware time MJD<<16 | hour<<8 | minute to Linux seconds; the
 * receiver's clock runs in UTC. */
EMU_EXPORT dword PvrTimeToLinux(dword fwTime) {
    long long days = (long long)(fwTime >> 16) - 40587;
    long long seconds = days * 86400 + ((fwTime >> 8) & 0xFF) * 3600 + (fwTime & 0xFF) * 60;
    return (dword)seconds;
}

long emuMjdFromDate(long year, int month, int day) {
    // days from civil (proleptic Gregorian), then shifted to MJD
    long y = year - (month <= 2);
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long mp = (month + 9) % 12;
    long doy = (153 * mp + 2) / 5 + day - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long unixDays = era * 146097 + doe - 719468;
    return unixDays + 40587;
}

void emuDateFromMjd(long mjd, long *year, int *month, int *day) {
    long z = mjd - 40587 + 719468;
    long era = (z >= 0 ? z : z - 146096) / 146097;
    long doe = z - era * 146097;
    long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long mp = (5 * doy + 2) / 153;
    int d = (int)(doy - (153 * mp + 2) / 5 + 1);
    int m = (int)(mp < 10 ? mp + 3 : mp - 9);
    *year = yoe + era * 400 + (m <= 2);
    *month = m;
    *day = d;
}

long long emuNowSeconds(void) {
    if (emu.fixedTime) return emu.fixedSeconds;
    return (long long)time(nullptr);
}

void emuSetTime(int year, int month, int day, int hour, int minute, int second) {
    emu.fixedTime = true;
    emu.fixedSeconds = (long long)(emuMjdFromDate(year, month, day) - 40587) * 86400 + hour * 3600 +
                       minute * 60 + second;
}

void emuDefaultOptions(EmuOptions *options) {
    if (!options) return;
    memset(options, 0, sizeof *options);
    options->firstPts = 0;
    options->pictures = 1;
    options->year = 2016, options->month = 1, options->day = 1;
}

std::string emuConsolePath(void) { return emu.out + "/console.bin"; }

const char *emuDiskFolder(void) { return emu.started ? emu.disk.c_str() : nullptr; }
const char *emuOutFolder(void) { return emu.started ? emu.out.c_str() : nullptr; }

static void setError(char *err, size_t errSize, const std::string &text) {
    if (err && errSize) snprintf(err, errSize, "%s", text.c_str());
}

static bool makeFolders(const std::string &path) {
    for (size_t i = 1; i <= path.size(); i++) {
        if (i != path.size() && path[i] != '/') continue;
        std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat64 st;
    return stat64(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static void clearSlot(int slot) {
    memset(&_tapTask[slot], 0, sizeof _tapTask[slot]);
    memset(fileObjects[slot], 0, sizeof fileObjects[slot]);
    memset(pathRecords[slot], 0, sizeof pathRecords[slot]);
    memset(dirObjects[slot], 0, sizeof dirObjects[slot]);
    pathTexts[slot][0] = dirTexts[slot][0] = 0;
    emuSlots[slot] = EmuSlotInfo();
}

void emuLookupReset(void);

int emuStart(const EmuOptions *options, char *err, size_t errSize) {
    if (emu.started) emuStop();
    if (!options || !options->disk || !options->out) {
        setError(err, errSize, "no disk or output folder given");
        return 0;
    }
    struct stat64 st;
    if (stat64(options->disk, &st) != 0 || !S_ISDIR(st.st_mode)) {
        setError(err, errSize, std::string("disk folder ") + options->disk + " does not exist");
        return 0;
    }
    if (!makeFolders(options->out)) {
        setError(err, errSize, std::string("cannot create output folder ") + options->out);
        return 0;
    }
    emu = EmuState();
    emu.options = *options;
    emu.disk = options->disk;
    emu.out = options->out;
    while (emu.disk.size() > 1 && emu.disk.back() == '/') emu.disk.pop_back();
    while (emu.out.size() > 1 && emu.out.back() == '/') emu.out.pop_back();
    emu.options.disk = emu.disk.c_str();
    emu.options.out = emu.out.c_str();
    char real[PATH_MAX];
    emu.diskReal = realpath(emu.disk.c_str(), real) ? real : emu.disk;
    emu.outReal = realpath(emu.out.c_str(), real) ? real : emu.out;
    if (options->fixedTime)
        emuSetTime(options->year, options->month, options->day, options->hour, options->minute,
                   options->second);
    for (int i = 0; i < EMU_SLOTS; i++) clearSlot(i);
    _curTapTask = 0;
    history.clear();
    emuLookupReset();
    osdReset();

    traceOpen(emu.out + "/trace.txt");
    FILE *console = fopen(emuConsolePath().c_str(), "wb");
    if (console) fclose(console);

    if (options->utf8Firmware) {
        // the routine lives in a library beside this one
        Dl_info info;
        std::string dir = ".";
        if (dladdr((void *)&emuStart, &info) && info.dli_fname) {
            dir = info.dli_fname;
            size_t slash = dir.rfind('/');
            dir = slash == std::string::npos ? "." : dir.substr(0, slash);
        }
        std::string lib = dir + "/libtapemu_utf8.so";
        emu.utf8Library = dlopen(lib.c_str(), RTLD_NOW | RTLD_GLOBAL);
        if (!emu.utf8Library) {
            traceClose();
            setError(err, errSize, std::string("cannot load ") + lib);
            return 0;
        }
    }
    emu.started = true;
    return 1;
}

void emuHistoryAdd(int slot) {
    EmuHistory h{slot, emuSlots[slot].firmwarePath, emuSlots[slot].id, ""};
    emuSlots[slot].history = (int)history.size();
    history.push_back(h);
}

void emuEndSlot(int slot, const char *reason) {
    if (slot < 0 || slot >= EMU_SLOTS || !emuSlots[slot].used) return;
    int h = emuSlots[slot].history;
    if (h >= 0 && h < (int)history.size() && history[h].end.empty()) history[h].end = reason;
    traceLine("END " + std::to_string(slot) + " " + reason);
    // the code stays loaded until emuStop: pointers into it may still be on a stack
    clearSlot(slot);
}

static std::vector<void *> closeAtStop;

void emuStop(void) {
    if (!emu.started) return;
    for (int i = 0; i < EMU_SLOTS; i++)
        if (emuSlots[i].used) emuEndSlot(i, "still running at the end");
    for (const EmuHistory &h : history) {
        char line[64];
        snprintf(line, sizeof line, " id 0x%08X ", (unsigned)h.id);
        traceLine("SLOT " + std::to_string(h.slot) + " " + traceString(h.firmwarePath.c_str()) + line + h.end);
    }
    traceClose();
    emu.started = false;
    for (int i = 0; i < EMU_SLOTS; i++) clearSlot(i);
    for (void *handle : closeAtStop) dlclose(handle);
    closeAtStop.clear();
    if (emu.utf8Library) dlclose(emu.utf8Library);
    emu.utf8Library = nullptr;
    osdReset();
    history.clear();
}

void emuRememberHandle(void *handle) { closeAtStop.push_back(handle); }

static void setDirText(int slot, const std::string &cwd) {
    emuSlots[slot].cwd = cwd;
    snprintf(dirTexts[slot], EMU_PATH_MAX, "%s%s", EMU_MOUNT, cwd.c_str());
}

void emuSetSlotCwd(int slot, const std::string &cwd) { setDirText(slot, cwd); }

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
        setDirText(slot, dir);
        _tapTask[slot].state = EMU_STATE_RUNNING;
        _tapTask[slot].file = fileObjects[slot];
        _tapTask[slot].handler = handler;
        _tapTask[slot].currentDir = dirObjects[slot];
        emuHistoryAdd(slot);
        return slot;
    }
    return -1;
}

static void *lookupInProgram(void *, const char *name) { return emuRealDlsym(RTLD_DEFAULT, name); }

int emuAttachProgram(const char *firmwarePath, const char *cwd, EmuEventHandler handler) {
    if (!emu.started) return -1;
    dword id = 0;
    std::string reason;
    std::string host = emuHostPath(firmwarePath ? firmwarePath : "");
    if (access(host.c_str(), R_OK) == 0) emuReadTapId(host, &id, reason);
    int slot = emuClaimSlot(firmwarePath, cwd, handler, id);
    if (slot < 0) return -1;
    emuFillCalls(lookupInProgram, nullptr);
    _curTapTask = slot;
    return slot;
}

int emuSlotRunning(int slot) {
    if (slot < 0 || slot >= EMU_SLOTS) return 0;
    return emuSlots[slot].used && _tapTask[slot].state == EMU_STATE_RUNNING;
}

/* Ends the TAPs that asked for it, once the firmware has control again. */
static void reapSlots(void) {
    for (int slot = 0; slot < EMU_SLOTS; slot++) {
        if (!emuSlots[slot].used) continue;
        if (emuSlots[slot].exitCalled) {
            emuEndSlot(slot, "ended by TAP_Exit");
        } else if (_tapTask[slot].state != EMU_STATE_RUNNING) {
            char reason[48];
            snprintf(reason, sizeof reason, "ended by state %u", (unsigned)_tapTask[slot].state);
            emuEndSlot(slot, reason);
        }
    }
}

int emuRunInSlot(int slot, void (*run)(void *), void *context) {
    sigjmp_buf here;
    sigjmp_buf *outer = hangReturn;
    int savedCurrent = _curTapTask;
    unsigned savedSleeps = sleepsThisEvent;
    volatile int returned = 1;
    hangReturn = &here;
    _curTapTask = slot;
    sleepsThisEvent = 0;
    emu.dispatchDepth++;
    if (sigsetjmp(here, 1) == 0)
        run(context);
    else
        returned = 0;
    emu.dispatchDepth--;
    hangReturn = outer;
    sleepsThisEvent = savedSleeps;
    _curTapTask = savedCurrent;
    if (emu.dispatchDepth == 0) reapSlots();
    return returned;
}

void emuSleepCalled(void) {
    if (!hangReturn) return;  // outside any event: nothing to count against
    if (++sleepsThisEvent < SLEEPS_UNTIL_HUNG) return;
    int hung = _curTapTask;
    traceLine("HUNG " + std::to_string(hung) + " after " + std::to_string(SLEEPS_UNTIL_HUNG) +
              " TAP_Sleep calls in one event");
    emuEndSlot(hung, "ended as hung in TAP_Sleep");
    siglongjmp(*hangReturn, 1);
}

void emuEndRequested(void) {
    int slot = _curTapTask;
    if (slot < 0 || slot >= EMU_SLOTS || !emuSlots[slot].used) return;
    emuSlots[slot].exitCalled = true;
    if (emu.dispatchDepth == 0) reapSlots();
}

struct EventCall {
    EmuEventHandler handler;
    word event;
    dword p1, p2, result;
};

static void callHandler(void *context) {
    EventCall *call = (EventCall *)context;
    call->result = call->handler(call->event, call->p1, call->p2);
}

dword emuDeliver(int slot, word event, dword p1, dword p2) {
    if (!emu.started || slot < 0 || slot >= EMU_SLOTS || !emuSlots[slot].used) return 0;
    EventCall call{_tapTask[slot].handler, event, p1, p2, 0};
    bool returned = true;
    emu.dispatchDepth++;  // a TAP that ends in this event ends after its EVENT line
    if (call.handler) returned = emuRunInSlot(slot, callHandler, &call);
    emu.dispatchDepth--;
    char line[96];
    if (returned)
        snprintf(line, sizeof line, "EVENT %d 0x%X 0x%X 0x%X -> 0x%X", slot, (unsigned)event,
                 (unsigned)p1, (unsigned)p2, (unsigned)call.result);
    else
        snprintf(line, sizeof line, "EVENT %d 0x%X 0x%X 0x%X -> hung", slot, (unsigned)event,
                 (unsigned)p1, (unsigned)p2);
    traceLine(line);
    if (emu.dispatchDepth == 0) reapSlots();
    return returned ? call.result : 0;
}

dword emuBroadcast(word event, dword p1, dword p2) {
    dword result = 0;
    for (int slot = 0; slot < EMU_SLOTS; slot++) {
        if (!emuSlotRunning(slot) || !_tapTask[slot].handler) continue;  // no handler, no one to take it
        result = emuDeliver(slot, event, p1, p2);
        if (event == EVT_KEY && result == 0) break;
    }
    return result;
}

dword emuOsdPixel(int region, int x, int y) { return osdPixel(region, x, y); }
