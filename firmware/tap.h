/*
 * The firmware's TAP interface, as this system uses it.
 *
 * The receiver's firmware loads a TAP file (an ELF shared object), fills in
 * the TAP_ call pointers declared here with the addresses of its own
 * routines, calls __TAP_Init_ and TAP_Main, and from then on hands every
 * event to TAP_EventHandler.  Every TAP links firmware/tap.cpp, which
 * defines the pointers (null until the firmware fills them) and the
 * "._tap_header" section that the loader looks for.
 */
#ifndef FIRMWARE_TAP_H
#define FIRMWARE_TAP_H

#include <stdint.h>

typedef uint8_t byte;
typedef uint16_t word;
typedef uint32_t dword;

/* Event codes. */
#define EVT_IDLE 0x0000   /* the firmware's idle event, no parameters */
#define EVT_KEY 0x0100    /* a key: first parameter is the key code */
#define EVT_STOP 0x0900   /* asks a TAP to end */

/* Key codes that the installer tells apart (first parameter of EVT_KEY).
 * Codes 0x10000 and up come from the remote control, small codes from the
 * front panel. */
#define KEY_EXIT_REMOTE 0x10017
#define KEY_EXIT_PANEL 0x6
#define KEY_OK_REMOTE 0x1001E
#define KEY_OK_PANEL 0x5
#define KEY_BACK_REMOTE_1 0x1000F
#define KEY_BACK_REMOTE_2 0x10012
#define KEY_BACK_REMOTE_3 0x10045
#define KEY_BACK_REMOTE_4 0x10047
#define KEY_BACK_PANEL_1 0x1
#define KEY_BACK_PANEL_2 0x3
#define KEY_LAST_CODE 0x1FFFFFF /* codes above this are no keys at all */

/* TAP_GetSystemVar: the receiver's language setting. */
#define SYSVAR_LANGUAGE 1

/* TAP_Hdd_Create attributes. */
#define ATTR_FOLDER 0xE0
#define ATTR_FILE 0xD0

/* The record that __TAP_Init_ fills with the two entry points. */
typedef struct {
    int (*main)(void);
    dword (*eventHandler)(word event, dword param1, dword param2);
} TapEntryRecord;

/* What a TAP exports: the firmware finds these by name, everything else in
 * a TAP file stays its own (TAP code is compiled with hidden visibility). */
#define TAP_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Entry points and call pointers: the firmware's loader looks them all up
 * by name. */
#pragma GCC visibility push(default)

/* Entry points every TAP exports under these names. */
int __TAP_Init_(TapEntryRecord *record);
int TAP_Main(void);
dword TAP_EventHandler(word event, dword param1, dword param2);

/* On-screen display.  A region is a 16-bit handle; colours are 0xAARRGGBB. */
extern int (*TAP_Osd_Create)(dword x, dword y, dword width, dword height, byte lutIndex, int flags);
extern int (*TAP_Osd_Delete)(word region);
extern int (*TAP_Osd_FillBox)(word region, dword x, dword y, dword width, dword height, dword colour);
extern int (*TAP_Osd_DrawRectangle)(word region, dword x, dword y, dword width, dword height,
                                    dword thickness, dword colour);
extern int (*TAP_Osd_PutS)(word region, dword x, dword y, dword rightLimit, const char *text,
                           dword textColour, dword backColour, byte fontType, byte fontSize,
                           byte dot, byte align);
extern int (*TAP_Osd_Sync)(void);
extern int (*TAP_ExitNormal)(void);
extern int (*TAP_EnterNormal)(void);

/* Disk: firmware paths from the root of the disk, names relative to the
 * TAP's current directory. */
extern int (*TAP_Hdd_ChangeDir)(const char *path);
extern int (*TAP_Hdd_Exist)(const char *name);
extern int (*TAP_Hdd_Create)(const char *name, byte attribute);

/* Firmware heap. */
extern void *(*TAP_MemAlloc)(dword size);
extern int (*TAP_MemFree)(void *block);
extern int (*TAP_MemCmp)(const void *a, const void *b, dword count);
extern void *(*TAP_MemCpy)(void *destination, const void *source, dword count);

/* Printing, as sprintf and printf. */
extern int (*TAP_SPrint)(char *buffer, const char *format, ...);
extern int (*TAP_Print)(const char *format, ...);

/* Time, system and lifecycle. */
extern int (*TAP_GetTime)(word *mjd, byte *hour, byte *minute, byte *second);
extern int (*TAP_ExtractMjd)(word mjd, word *year, byte *month, byte *day, byte *weekDay);
extern word (*TAP_MakeMjd)(word year, byte month, byte day);
extern dword (*TAP_GetVersion)(void);
extern int (*TAP_GetSystemVar)(int variable);
extern void (*TAP_Sleep)(dword hundredths);
extern dword (*TAP_Exit)(void);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

/*
 * Identity sections.  Each macro defines one exported object in a section
 * of its own (PROGBITS, allocated, read-only, aligned to 4), as the
 * firmware's loader and the TAP information reader expect.
 */
#define TAP_IDENTITY_(sectionName, type, object, size, value)                              \
    extern "C" TAP_EXPORT __attribute__((section(sectionName), used, aligned(4))) \
    const type object size = value

#define TAP_ID(id) TAP_IDENTITY_("._tap_id", dword, __tap_ud__, , id)
#define TAP_PROGRAM_NAME(text) TAP_IDENTITY_("._tap_program_name", char, __tap_program_name__, [64], text)
#define TAP_AUTHOR_NAME(text) TAP_IDENTITY_("._tap_author_name", char, __tap_author_name__, [64], text)
#define TAP_DESCRIPTION(text) TAP_IDENTITY_("._tap_description", char, __tap_description__, [128], text)
#define TAP_PROGRAM_VERSION(text) \
    TAP_IDENTITY_("._tap_program_version", char, __tap_program_version__, [64], text)
#define TAP_ETCINFO(text) TAP_IDENTITY_("._tap_etcinfo", char, __tap_etc_str__, [64], text)

#endif
