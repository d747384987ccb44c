/*
 * The part of the firmware interface that lives inside every TAP file: the
 * call pointers, which the firmware's loader fills in by name, and the
 * "._tap_header" section that marks the file as a TAP for MIPS.
 */
#include "tap.h"

extern "C" {

int (*TAP_Osd_Create)(dword, dword, dword, dword, byte, int);
int (*TAP_Osd_Delete)(word);
int (*TAP_Osd_FillBox)(word, dword, dword, dword, dword, dword);
int (*TAP_Osd_DrawRectangle)(word, dword, dword, dword, dword, dword, dword);
int (*TAP_Osd_PutS)(word, dword, dword, dword, const char *, dword, dword, byte, byte, byte, byte);
int (*TAP_Osd_Sync)(void);
int (*TAP_ExitNormal)(void);
int (*TAP_EnterNormal)(void);

int (*TAP_Hdd_ChangeDir)(const char *);
int (*TAP_Hdd_Exist)(const char *);
int (*TAP_Hdd_Create)(const char *, byte);

void *(*TAP_MemAlloc)(dword);
int (*TAP_MemFree)(void *);
int (*TAP_MemCmp)(const void *, const void *, dword);
void *(*TAP_MemCpy)(void *, const void *, dword);

int (*TAP_SPrint)(char *, const char *, ...);
int (*TAP_Print)(const char *, ...);

int (*TAP_GetTime)(word *, byte *, byte *, byte *);
int (*TAP_ExtractMjd)(word, word *, byte *, byte *, byte *);
word (*TAP_MakeMjd)(word, byte, byte);
dword (*TAP_GetVersion)(void);
int (*TAP_GetSystemVar)(int);
void (*TAP_Sleep)(dword);
dword (*TAP_Exit)(void);

/* Bytes 0-7 "TFAPMIPS", bytes 8-11 the value 16 (little-endian), then zeros. */
TAP_EXPORT __attribute__((section("._tap_header"), used, aligned(4)))
extern const byte __tap_Header__[32] = {'T', 'F', 'A', 'P', 'M', 'I', 'P', 'S', 16, 0, 0, 0};
}
