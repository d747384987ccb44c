/*
 * Inside the calls room: the firmware's TAP_ calls, one unit per group,
 * and the trace formatting they share.
 */
#ifndef EMULATOR_CALLS_ENTRIES_H
#define EMULATOR_CALLS_ENTRIES_H

#include <string>

#include "calls.h"

static inline std::string num(long long v) { return std::to_string(v); }
static inline std::string unum(unsigned long long v) { return std::to_string(v); }
static inline std::string ptr(const void *p) { return p ? "*" : "NULL"; }

/* OSD. */
int fwOsdCreate(dword x, dword y, dword width, dword height, byte lutIndex, int flags);
int fwOsdDelete(word region);
int fwOsdFillBox(word region, dword x, dword y, dword width, dword height, dword colour);
int fwOsdDrawRectangle(word region, dword x, dword y, dword width, dword height, dword thickness, dword colour);
int fwOsdPutS(word region, dword x, dword y, dword rightLimit, const char *text, dword textColour,
              dword backColour, byte fontType, byte fontSize, byte dot, byte align);
int fwOsdSync(void);
int fwExitNormal(void);
int fwEnterNormal(void);

/* Disk. */
int fwHddChangeDir(const char *path);
int fwHddExist(const char *name);
int fwHddCreate(const char *name, byte attribute);

/* Heap. */
void *fwMemAlloc(dword size);
int fwMemFree(void *block);
int fwMemCmp(const void *a, const void *b, dword count);
void *fwMemCpy(void *destination, const void *source, dword count);

/* Printing, time, system and lifecycle. */
int fwSPrint(char *buffer, const char *format, ...);
int fwPrint(const char *format, ...);
int fwGetTime(word *mjd, byte *hour, byte *minute, byte *second);
int fwExtractMjd(word mjd, word *year, byte *month, byte *day, byte *weekDay);
word fwMakeMjd(word year, byte month, byte day);
dword fwGetVersion(void);
int fwGetSystemVar(int variable);
void fwSleep(dword hundredths);
dword fwExit(void);

#endif
