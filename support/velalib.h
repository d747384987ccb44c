/*
 * VelaLib: the support library that TAPs link in.  One source unit per
 * function, named after the function; this header declares them all.
 *
 * Conventions: 1 or 0 for success or failure, -1 when no slot matches a
 * TAP ID, -3 when the firmware's task table or current-slot variable is
 * missing.  A path that cannot be converted becomes the empty string.
 * Character conversions never fail; they drop what the target cannot hold
 * and say so in the library log.
 */
#ifndef SUPPORT_VELALIB_H
#define SUPPORT_VELALIB_H

#include <stdbool.h>
#include <stdint.h>

#include "../firmware/tap.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Firmware symbols and the task table ---------------------------- */

/* One word of the firmware's records: 32 bits on the receiver; on a PC,
 * where the stand-in firmware runs, every word is pointer-sized and the
 * word indices stay the same. */
typedef uintptr_t TapWord;

/* One slot of the firmware's task table (16 slots). */
typedef struct {
    TapWord State;                                        /* word 0: 1 running, 2 end requested */
    TapWord Unused1;                                      /* word 1 */
    TapWord *File;                                        /* word 2: firmware file object, or null */
    TapWord Unused3[2];                                   /* words 3-4 */
    dword (*EventHandler)(word event, dword p1, dword p2); /* word 5: or null */
    TapWord Unused6[4];                                   /* words 6-9 */
    TapWord *CurrentDir;                                  /* word 10: current-directory object, or null */
} TapTaskEntry;

#define TAP_TASK_SLOTS 16
#define TAP_STATE_RUNNING 1
#define TAP_STATE_TERMINATE 2
#define FILE_OBJECT_PATH_RECORD_WORD 36 /* byte 144 on the receiver */
#define PATH_RECORD_MAGIC 0xCDACEDAFu   /* word 0 of a path record */
#define PATH_RECORD_PATH_WORD 2         /* the absolute Linux path */
#define CURRENT_DIR_PATH_WORD 1         /* "/mnt/hd..." of the working directory */

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TapTaskEntry) == 44, "a task-table slot is 44 bytes on the receiver");
#endif
static_assert(sizeof(TapTaskEntry) == 11 * sizeof(TapWord), "a task-table slot is 11 words");

extern int TAP_TableIndex;       /* the TAP's own slot; -1 until known */
extern word ApplID;              /* TAP_GetVersion, as InitTAPex found it */
extern int LibInitialized;       /* 1 once InitTAPex has run */
extern const char *__velalib_version__; /* the library's version mark */

void *TryResolve(const char *name);
TapTaskEntry *FIS_vTAPTable(void);
int *FIS_vCurTapTask(void);
void *FIS_fwTimeToLinux(void);
void *FIS_fwAppl_ConvertToValidUTF8Str(void);
int InitTAPex(void);
int HDD_TAP_GetFileNameByIndex(unsigned int index, char **fileName);

/* ---- Time ----------------------------------------------------------- */

/* Time-stamp format codes of TimeFormat. */
typedef enum {
    TIMESTAMP_NONE = 0,   /* empty */
    TIMESTAMP_HM = 1,     /* 13:05 */
    TIMESTAMP_HMS = 2,    /* 13:05:09 */
    TIMESTAMP_YMD = 3,    /* 2016-02-29 */
    TIMESTAMP_YMDHM = 4,  /* 2016-02-29 13:05 */
    TIMESTAMP_YMDHMS = 5, /* 2016-02-29 13:05:09 */
    TIMESTAMP_FNYMDHM = 6 /* 20160229_1305 */
} eTimeStampFormat;

dword Now(byte *second);
char *TimeFormat(dword fwTime, byte second, unsigned int format, char *result);
dword PvrTimeToLinux(dword fwTime);

/* ---- Library log and console ---------------------------------------- */

extern char puffer[1024]; /* one console piece at a time */

void PrintNet(const char *text);
void LogEntryVelaLibPrintf(int console, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

/* ---- UTF-8 primitives and conversion to ISO 8859-1 ------------------ */

const char *SkipCharTableBytes(const char *text);
bool isUTF8Char(const char *p, byte *length);
dword UTF8ToUTF32(const char *p, byte *length);
void UTF32ToUTF8(dword codePoint, char *out, byte *length);
dword strlenUC(const char *text);
void GetStringEncoding(const char *text, bool *hasSingleByte, bool *hasMultiByte);
void StrToISO(const char *source, char *destination);
void StrToISOAlloc(const char *source, char **destination);

/* ---- Conversion to UTF-8 -------------------------------------------- */

/* Code points of the bytes 0xA0..0xFF; 0 where the table leaves a byte
 * unassigned. */
extern const word UTFLookupISO8859_1[96], UTFLookupISO8859_2[96], UTFLookupISO8859_3[96],
    UTFLookupISO8859_4[96], UTFLookupISO8859_5[96], UTFLookupISO8859_6[96], UTFLookupISO8859_7[96],
    UTFLookupISO8859_8[96], UTFLookupISO8859_9[96], UTFLookupISO8859_10[96], UTFLookupISO8859_11[96],
    UTFLookupISO8859_13[96], UTFLookupISO8859_14[96], UTFLookupISO8859_15[96], UTFLookupISO8859_16[96],
    UTFLookupISO6937[96];

/* ISO 6937 mark byte and base letter, and the UTF-8 form of the composed
 * character. */
typedef struct {
    byte Mark;
    byte Letter;
    byte UTF8[2];
} tDiacriticalPair;
#define ISO6937_DIACRITICAL_PAIRS 53
extern const tDiacriticalPair ISO6937DiacriticalPairs[ISO6937_DIACRITICAL_PAIRS];

int StrToUTF8(const char *source, char *destination, byte defaultTable);
int isUTFToppy(void);

/* ---- Paths and the directory stack ---------------------------------- */

typedef enum {
    PT_FileName = 0,  /* bare name in the working directory */
    PT_TapDir = 1,    /* directory as the TAP interface sees the disk */
    PT_LinuxDir = 2,  /* directory as a Linux path */
    PT_TapFile = 3,   /* file as the TAP interface sees the disk */
    PT_LinuxFile = 4  /* file as a Linux path */
} tPathType;

#define TAP_MOUNT_POINT "/mnt/hd"
#define PATH_BUFFER_SIZE 512
#define DIR_STACK_DEPTH 16
#define DIR_STACK_ENTRY 200

extern char TAPDirStack[DIR_STACK_DEPTH][DIR_STACK_ENTRY];
/* index of the top entry, -1 when empty; exported, so that the stand-in
 * can tell whether a TAP left its directory stack as it found it */
extern TAP_EXPORT int TAPDirStackDepth;

int StringEndsWith(const char *text, const char *suffix);
tPathType GetPathType(const char *path);
void ConvertPathType(const char *source, char *destination, tPathType target);
int HDD_TAP_GetCurrentDir(char *destination);
int HDD_TAP_PushDir(void);
int HDD_TAP_PopDir(void);
int HDD_ChangeDir(const char *path);

/* ---- Log writer ----------------------------------------------------- */

void LogEntry(const char *fileName, const char *programName, int console, unsigned int timeFormat,
              const char *text);

/* ---- ELF section reader --------------------------------------------- */

/* One address, offset or size field of an ELF file: TAP files are 32-bit
 * ELF on the receiver and the PC's own 64-bit ELF on a PC, where the
 * stand-in firmware runs them. */
#if UINTPTR_MAX == 0xFFFFFFFFu
typedef dword tELFWord;
#else
typedef uint64_t tELFWord;
#endif

/* The ELF header as the file holds it (little-endian, native order on
 * both targets); the reader uses e_shoff, e_shnum and e_shstrndx. */
typedef struct {
    byte e_ident[16];
    word e_type;
    word e_machine;
    dword e_version;
    tELFWord e_entry;
    tELFWord e_phoff;
    tELFWord e_shoff;     /* file offset of the section header table */
    dword e_flags;
    word e_ehsize;
    word e_phentsize;
    word e_phnum;
    word e_shentsize;
    word e_shnum;         /* number of section headers */
    word e_shstrndx;      /* index of the section-name table */
} tELFHeader;

/* One section header; the reader uses sh_name, sh_type, sh_offset and
 * sh_size. */
typedef struct {
    dword sh_name;        /* offset of the name in the section-name table */
    dword sh_type;
    tELFWord sh_flags;
    tELFWord sh_addr;
    tELFWord sh_offset;   /* file offset of the contents */
    tELFWord sh_size;     /* size of the contents in bytes */
    dword sh_link;
    dword sh_info;
    tELFWord sh_addralign;
    tELFWord sh_entsize;
} tELFSectionHeader;

#define ELF_SHT_STRTAB 3 /* type of a string table */

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(tELFHeader) == 52, "the ELF header is 52 bytes on the receiver");
static_assert(sizeof(tELFSectionHeader) == 40, "a section header is 40 bytes on the receiver");
#else
static_assert(sizeof(tELFHeader) == 64, "the 64-bit ELF header is 64 bytes");
static_assert(sizeof(tELFSectionHeader) == 64, "a 64-bit section header is 64 bytes");
#endif

/* The one ELF file that may be open at a time; ELFCleanup closes it and
 * releases the copies. */
extern int fTAP;                           /* descriptor; 0: none, -1 after a failed open */
extern tELFHeader *ELFHeader;              /* copy of the ELF header, or null */
extern tELFSectionHeader *SectionHeaders;  /* copy of the section header table, or null */
extern char *shstrtab;                     /* copy of the section-name table, or null */
extern void *symtab;                       /* a symbol table; nothing fills it */
extern char *strtab;                       /* its names; nothing fills it */

int ELFOpenFile(const char *fileName);
int ELFReadELFHeader(void);
int ELFReadSectionHeaders(void);
int ELFReadShstrtabSection(void);
int ELFGetSectionIndex(const char *name);
int ELFGetSectionOffset(int index, dword *offset, dword *size);
int ELFReadDWORD(int index, dword *destination);
int ELFReadData(int index, void *destination, dword destinationSize);
void ELFCleanup(void);
int ELFRangeInFile(uint64_t offset, uint64_t size);
int ELFReadAt(uint64_t offset, void *destination, dword count);

/* ---- TAP file information and running TAPs -------------------------- */

#define STOP_EVENT 0x0900        /* asks a TAP to end */
#define FIRMWARE_PATH_MAX 1024   /* the firmware's longest TAP file path, terminator included */

/* The identity of a TAP file, from its "._tap_..." sections. */
typedef struct {
    dword TapID;           /* "._tap_id" */
    dword Date;            /* build date as a Modified Julian Date; 0 when unknown */
    char ProgramName[64];  /* "._tap_program_name"; empty when absent */
    char Author[64];       /* "._tap_author_name"; empty when absent */
    char Description[128]; /* "._tap_description"; empty when absent */
    char Version[64];      /* "._tap_program_version"; empty when absent */
} TapInfo;

int HDD_TAP_GetInfo(const char *fileName, TapInfo *info);
int HDD_GetAbsolutePathByTypeFile(const TapWord *fileObject, char *destination, dword destinationSize);
dword HDD_TAP_GetIDByIndex(unsigned int index);
int HDD_TAP_GetIndexByID(dword tapID);
dword HDD_TAP_SendEvent(dword tapID, bool allowStop, word event, dword param1, dword param2);
int HDD_TAP_Terminate(dword tapID);

#ifdef __cplusplus
}
#endif

#endif
