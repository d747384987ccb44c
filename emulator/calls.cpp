/*
 * The firmware's TAP_ calls: what a TAP reaches through its call pointers.
 * Every call writes its trace line (TAP_SPrint and the TAP_Mem calls only
 * in the full trace) with its arguments in call order and its result.
 */
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "emucore.h"
#include "osd.h"

#ifndef TAPEMU_PICTURES
#define TAPEMU_PICTURES 0
#endif

static const dword FIRMWARE_VERSION = 0x1234;

/* The firmware heap: malloc with a size header, so that a limit can hold
 * the TAPs to a smaller heap. */
static size_t heapLimit = 0;  // 0: no limit
static size_t heapInUse = 0;
static unsigned heapBlocks = 0;  // blocks handed out and not yet freed
struct HeapHeader {
    size_t size;
    size_t pad;  // keeps the block 16-byte aligned on the PC
};

void emuSetHeapLimit(size_t bytes) { heapLimit = bytes; }
unsigned emuHeapBlocksInUse(void) { return heapBlocks; }

static std::string num(long long v) { return std::to_string(v); }
static std::string unum(unsigned long long v) { return std::to_string(v); }
static std::string ptr(const void *p) { return p ? "*" : "NULL"; }

static std::string currentCwd(void) {
    int slot = _curTapTask;
    if (slot >= 0 && slot < EMU_SLOTS && emuSlots[slot].used) return emuSlots[slot].cwd;
    return "/";
}

/* ---- OSD ------------------------------------------------------------ */

static int fwOsdCreate(dword x, dword y, dword width, dword height, byte lutIndex, int flags) {
    int r = osdCreate((int)x, (int)y, (int)width, (int)height);
    traceLine("TAP_Osd_Create " + unum(x) + " " + unum(y) + " " + unum(width) + " " + unum(height) + " " +
              num(lutIndex) + " " + num(flags) + " -> " + num(r));
    return r;
}

static int fwOsdDelete(word region) {
    int r = osdDelete(region);
    traceLine("TAP_Osd_Delete " + num(region) + " -> " + num(r));
    return r;
}

static int fwOsdFillBox(word region, dword x, dword y, dword width, dword height, dword colour) {
    int r = osdFillBox(region, (int)x, (int)y, (int)width, (int)height, colour);
    traceLine("TAP_Osd_FillBox " + num(region) + " " + unum(x) + " " + unum(y) + " " + unum(width) + " " +
              unum(height) + " " + traceColour(colour) + " -> " + num(r));
    return r;
}

static int fwOsdDrawRectangle(word region, dword x, dword y, dword width, dword height, dword thickness,
                              dword colour) {
    int r = osdDrawRectangle(region, (int)x, (int)y, (int)width, (int)height, (int)thickness, colour);
    traceLine("TAP_Osd_DrawRectangle " + num(region) + " " + unum(x) + " " + unum(y) + " " + unum(width) +
              " " + unum(height) + " " + unum(thickness) + " " + traceColour(colour) + " -> " + num(r));
    return r;
}

static int fwOsdPutS(word region, dword x, dword y, dword rightLimit, const char *text, dword textColour,
                     dword backColour, byte fontType, byte fontSize, byte dot, byte align) {
    int r = osdPutS(region, (int)x, (int)y, (int)rightLimit, text, textColour, backColour, fontType, fontSize,
                    dot, align);
    traceLine("TAP_Osd_PutS " + num(region) + " " + unum(x) + " " + unum(y) + " " + unum(rightLimit) + " " +
              traceString(text) + " " + traceColour(textColour) + " " + traceColour(backColour) + " " +
              num(fontType) + " " + num(fontSize) + " " + num(dot) + " " + num(align) + " -> " + num(r));
    return r;
}

static int fwOsdSync(void) {
    traceLine("TAP_Osd_Sync -> 0");
    if (TAPEMU_PICTURES && emu.options.pictures) {
        char name[32];
        snprintf(name, sizeof name, "/screen-%04d.png", ++emu.pictureCount);
        osdWritePng((emu.out + name).c_str());
    }
    return 0;
}

static int fwExitNormal(void) {
    traceLine("TAP_ExitNormal -> 0");
    return 0;
}

static int fwEnterNormal(void) {
    traceLine("TAP_EnterNormal -> 0");
    return 0;
}

/* ---- Disk ----------------------------------------------------------- */

void emuSetSlotCwd(int slot, const std::string &cwd);

static bool isFolder(const std::string &host) {
    struct stat64 st;
    return stat64(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static int fwHddChangeDir(const char *path) {
    std::string dir = emuNormalise(currentCwd(), path);
    int r = 0;
    if (!dir.empty() && isFolder(emuHostPath(dir))) {
        int slot = _curTapTask;
        if (slot >= 0 && slot < EMU_SLOTS && emuSlots[slot].used) emuSetSlotCwd(slot, dir);
        r = 1;
    }
    traceLine("TAP_Hdd_ChangeDir " + traceString(path) + " -> " + num(r));
    return r;
}

static int fwHddExist(const char *name) {
    std::string target = emuNormalise(currentCwd(), name);
    struct stat64 st;
    int r = !target.empty() && lstat64(emuHostPath(target).c_str(), &st) == 0 ? 1 : 0;
    traceLine("TAP_Hdd_Exist " + traceString(name) + " -> " + num(r));
    return r;
}

static int fwHddCreate(const char *name, byte attribute) {
    std::string target = emuNormalise(currentCwd(), name);
    int r = 0;
    if (!target.empty() && target != "/") {
        std::string host = emuHostPath(target);
        if (attribute == ATTR_FOLDER) {
            r = mkdir(host.c_str(), 0777) == 0 ? 1 : 0;
        } else if (attribute == ATTR_FILE) {
            int fd = open(host.c_str(), O_WRONLY | O_CREAT, 0666);
            if (fd >= 0) close(fd);
            r = fd >= 0 ? 1 : 0;
        }
    }
    traceLine("TAP_Hdd_Create " + traceString(name) + " " + num(attribute) + " -> " + num(r));
    return r;
}

/* ---- Heap ----------------------------------------------------------- */

static void *fwMemAlloc(dword size) {
    void *block = nullptr;
    if (!heapLimit || heapInUse + size <= heapLimit) {
        HeapHeader *h = (HeapHeader *)malloc(sizeof(HeapHeader) + size);
        if (h) {
            h->size = size;
            heapInUse += size;
            heapBlocks++;
            block = h + 1;
        }
    }
    if (emu.options.traceAll) traceLine("TAP_MemAlloc " + unum(size) + " -> " + (block ? "1" : "0"));
    return block;
}

static int fwMemFree(void *block) {
    if (emu.options.traceAll) traceLine("TAP_MemFree " + ptr(block) + " -> " + (block ? "1" : "0"));
    if (!block) return 0;
    HeapHeader *h = (HeapHeader *)block - 1;
    heapInUse -= h->size < heapInUse ? h->size : heapInUse;
    if (heapBlocks) heapBlocks--;
    free(h);
    return 1;
}

static int fwMemCmp(const void *a, const void *b, dword count) {
    int r = (a && b) ? memcmp(a, b, count) : (a == b ? 0 : 1);
    r = r < 0 ? -1 : (r > 0 ? 1 : 0);
    if (emu.options.traceAll)
        traceLine("TAP_MemCmp " + ptr(a) + " " + ptr(b) + " " + unum(count) + " -> " + num(r));
    return r;
}

static void *fwMemCpy(void *destination, const void *source, dword count) {
    if (destination && source && count) memmove(destination, source, count);
    if (emu.options.traceAll)
        traceLine("TAP_MemCpy " + ptr(destination) + " " + ptr(source) + " " + unum(count) + " -> " +
                  ptr(destination));
    return destination;
}

/* ---- Printing ------------------------------------------------------- */

static int fwSPrint(char *buffer, const char *format, ...) {
    if (!buffer || !format) return 0;
    va_list ap;
    va_start(ap, format);
    int r = vsprintf(buffer, format, ap);
    va_end(ap);
    if (emu.options.traceAll)
        traceLine("TAP_SPrint " + traceString(buffer) + " " + traceString(format) + " -> " + num(r));
    return r;
}

static int fwPrint(const char *format, ...) {
    std::string text;
    if (format) {
        va_list ap, copy;
        va_start(ap, format);
        va_copy(copy, ap);
        int n = vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (n > 0) {
            text.resize((size_t)n + 1);
            vsnprintf(&text[0], text.size(), format, ap);
            text.resize((size_t)n);
        }
        va_end(ap);
    }
    traceLine("TAP_Print " + traceString(format ? text.c_str() : nullptr) + " -> " + num((long long)text.size()));
    return (int)text.size();
}

/* ---- Time, system and lifecycle ------------------------------------- */

static std::string outValue(const void *p, long long v) { return p ? num(v) : "NULL"; }

static int fwGetTime(word *mjd, byte *hour, byte *minute, byte *second) {
    long long t = emuNowSeconds();
    long long days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    long long rest = t - days * 86400;
    word m = (word)(days + 40587);
    byte h = (byte)(rest / 3600), mi = (byte)(rest / 60 % 60), s = (byte)(rest % 60);
    if (mjd) *mjd = m;
    if (hour) *hour = h;
    if (minute) *minute = mi;
    if (second) *second = s;
    traceLine("TAP_GetTime " + outValue(mjd, m) + " " + outValue(hour, h) + " " + outValue(minute, mi) + " " +
              outValue(second, s) + " -> 0");
    return 0;
}

static int fwExtractMjd(word mjd, word *year, byte *month, byte *day, byte *weekDay) {
    long y;
    int mo, d;
    emuDateFromMjd(mjd, &y, &mo, &d);
    byte wd = (byte)((mjd + 3) % 7);  // MJD 0 was a Wednesday; 0 is Sunday
    if (year) *year = (word)y;
    if (month) *month = (byte)mo;
    if (day) *day = (byte)d;
    if (weekDay) *weekDay = wd;
    traceLine("TAP_ExtractMjd " + num(mjd) + " " + outValue(year, y) + " " + outValue(month, mo) + " " +
              outValue(day, d) + " " + outValue(weekDay, wd) + " -> 0");
    return 0;
}

static int daysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

static word fwMakeMjd(word year, byte month, byte day) {
    word r = 0;
    if (month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month)) {
        long mjd = emuMjdFromDate(year, month, day);
        if (mjd >= 0 && mjd <= 0xFFFF) r = (word)mjd;
    }
    traceLine("TAP_MakeMjd " + num(year) + " " + num(month) + " " + num(day) + " -> " + num(r));
    return r;
}

static dword fwGetVersion(void) {
    traceLine("TAP_GetVersion -> " + unum(FIRMWARE_VERSION));
    return FIRMWARE_VERSION;
}

static int fwGetSystemVar(int variable) {
    int r = variable == SYSVAR_LANGUAGE ? emu.options.language : 0;
    traceLine("TAP_GetSystemVar " + num(variable) + " -> " + num(r));
    return r;
}

static void fwSleep(dword hundredths) {
    traceLine("TAP_Sleep " + unum(hundredths));
    emuSleepCalled();
}

static dword fwExit(void) {
    traceLine("TAP_Exit -> 0");
    emuEndRequested();
    return 0;
}

/* ---- Filling a TAP's call pointers ---------------------------------- */

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

/* ---- Firmware paths ------------------------------------------------- */

std::string emuNormalise(const std::string &cwd, const char *path) {
    if (!path || !*path) return "";
    std::string full = path[0] == '/' ? std::string(path) : cwd + "/" + path;
    std::string result;
    size_t i = 0;
    while (i <= full.size()) {
        size_t j = full.find('/', i);
        if (j == std::string::npos) j = full.size();
        std::string part = full.substr(i, j - i);
        if (part == "..") {
            size_t slash = result.rfind('/');
            result = slash == std::string::npos ? "" : result.substr(0, slash);  // never above the root
        } else if (!part.empty() && part != ".") {
            result += "/" + part;
        }
        i = j + 1;
    }
    return result.empty() ? "/" : result;
}

std::string emuHostPath(const std::string &firmwarePath) {
    if (firmwarePath == "/") return emu.disk + "/";
    return emu.disk + firmwarePath;
}
