/*
 * Zephyrdesk-Install: entry points, key handling, the three pages of the
 * installer, its installation log and the extraction of the archive that
 * the TAP file carries.
 *
 * The firmware calls TAP_Main once and then hands every event to
 * TAP_EventHandler.  The first event of any kind sets the installer up and
 * draws the language screen; keys then move the selection, confirm a page
 * or leave through exitRoutine.  Everything is drawn on one 720 x 576 OSD
 * region, each page a full repaint followed by TAP_Osd_Sync.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "Zephyrdesk-Install.h"
#include "velalib.h"

/* ---- Identity of the TAP file --------------------------------------- */

TAP_ID(0x51525619);
TAP_PROGRAM_NAME("Zephyrdesk-Install 2.20");
TAP_AUTHOR_NAME("Zephyrdesk team");
TAP_DESCRIPTION("Install Zephyrdesk.");
TAP_PROGRAM_VERSION("2.20");
TAP_ETCINFO("Feb 11 2018");

/* ---- State ---------------------------------------------------------- */

int initFlag = 1;                  /* 1 until the first event has set the installer up */
int gInstallStep = STEP_LANGUAGE;  /* the page on the screen */
int gLanguage = LANG_EN;           /* interface language */
int selectedOption = OPTION_EXIT;  /* highlighted target button */
int ignoreKeys = 0;                /* non-zero while a run is in progress */
int gRgnScreen = 0;                /* OSD region handle, 0 while none exists */
int gExitDone = 0;                 /* 1 once the region is deleted and the TAP is ending */
char logEntry[1024];               /* one installation-log line at a time */
int gSavedOption = OPTION_EXIT;    /* selectedOption as the run started; post-installation decides on it */
int gTAPIndex1 = 0;                /* slot of the running main TAP, -1 when it does not run */
char *gTAPFile1 = NULL;            /* its file (the firmware's string), set only when it runs */
int gTAPIndex2 = 0;                /* slot of the running configuration TAP, -1 when it does not run */
char *gTAPFile2 = NULL;            /* its file (the firmware's string), set only when it runs */
int gTAPAutoFlag1 = 0;             /* 1 when AutoStart held "Zephyrdesk.tap" before the extraction */
int gMyTAPIndex = -1;              /* the installer's own slot */
char *gMyTAPFileName = NULL;       /* the installer's own TAP file (the firmware's string), set by the run */
int gPayloadCRCFound = 0;          /* 1 when the run found ".PayloadCRC" */
dword gPayloadCRC = 0;             /* the CRC-32 of ".Payload" that ".PayloadCRC" holds */
static void *tarMemMap = NULL;     /* base of the archive's mapping, kept after the walk */

/* Screen texts, one row of TEXTS_PER_LANGUAGE per language, in ISO 8859-1. */
const char *const gTexts[LANGUAGES * TEXTS_PER_LANGUAGE] = {
    /* English */
    "Install ", "Language", "Please select the language", "of this installation TAP",
    "and press OK to proceed", "or EXIT to quit.", "Installation target",
    "Please select the installation target", "Installing", "Complete", "Exit",
    /* German */
    "Installiere ", "Sprache", "W\xE4" "hle die Sprache", "f\xFC" "r dieses Installations-TAP",
    "und dr\xFC" "cke OK um fortzufahren", "oder EXIT um abzubrechen.", "Installationsziel",
    "W\xE4" "hle das Installationsziel", "Installiere", "Fertig", "beenden",
    /* Dutch */
    "Installeer ", "Taal", "Kies de taal", "voor deze installatie-TAP",
    "en druk OK om verder te gaan", "of EXIT om af te breken.", "Installatie bestemming",
    "Kies de installatie bestemming", "Installeren", "Klaar", "Afsluiten",
    /* French */
    "Installez ", "Langue", "Selectionnez la langue", "pour ce TAP d'installation",
    "et poussez OK pour continuer", "ou EXIT pour quitter.", "Destination de l'installation",
    "Choisissez la destination de l'installation", "Installant", "Pret", "Sortie",
};

enum {
    TXT_TITLE, TXT_LNG_HEADING, TXT_LNG_LINE1, TXT_LNG_LINE2, TXT_PROCEED, TXT_QUIT,
    TXT_TARGET_HEADING, TXT_TARGET_LINE, TXT_INSTALLING, TXT_COMPLETE, TXT_EXIT
};

#define TITLE_SUFFIX "Zephyrdesk 2.20"

#define SCREEN_WIDTH 720
#define SCREEN_HEIGHT 576
#define BUTTON_HEIGHT 30
#define BUTTON_STEPS 15
#define PANEL_X 150
#define PANEL_RIGHT 570

#define COLOUR_BACKGROUND 0xFF101010
#define COLOUR_BORDER 0xFF464646
#define COLOUR_HEADING_PANEL 0xFF202020
#define COLOUR_BODY_PANEL 0xFF28281E
#define COLOUR_TITLE 0xFFE8E8FA
#define COLOUR_HEADING 0xFFE89211
#define COLOUR_TEXT 0xFFC0C0C0
#define COLOUR_BUTTON 0xFF181818
#define COLOUR_SELECTED_TEXT 0xFF101010
#define COLOUR_BAR 0xFF0000FF

#define BAR_FULL_WIDTH 356

#define LOG_FOLDER "/ProgramFiles/Settings/Logs"
#define LOG_FILE "Zephyrdesk-Install.log"
#define LOG_PROGRAM "Zephyrdesk-Install"

/* ---- Drawing -------------------------------------------------------- */

static const char *text(int index) {
    int language = gLanguage >= 0 && gLanguage < LANGUAGES ? gLanguage : LANG_EN;
    return gTexts[language * TEXTS_PER_LANGUAGE + index];
}

static void putText(dword x, dword y, dword rightLimit, const char *s, dword colour, byte size) {
    TAP_Osd_PutS((word)gRgnScreen, x, y, rightLimit, s, colour, 0, 0, size, 0, 1);
}

/* Draws one button 30 pixels high at (x, y), width wide, with its label
 * centred; a selected button is a 15-step gradient, light at the top and
 * bottom edges, dark in the middle.  The text is the caller's. */
void drawButton(dword x, dword y, dword width, const char *label, int selected) {
    if (gExitDone) return;
    if (!selected) {
        TAP_Osd_FillBox((word)gRgnScreen, x, y, width, BUTTON_HEIGHT, COLOUR_BUTTON);
        putText(x, y + 4, x + width, label, COLOUR_TEXT, 1);
        return;
    }
    for (dword i = 0; i < BUTTON_STEPS; i++) {
        dword colour = 0xFF000000 | (0xA0 - 7 * i) << 16 | (0xE0 - 7 * i) << 8 | (0x88 - 7 * i);
        TAP_Osd_FillBox((word)gRgnScreen, x, y + i, width, BUTTON_HEIGHT - 2 * i, colour);
    }
    putText(x, y + 4, x + width, label, COLOUR_SELECTED_TEXT, 1);
}

/* Draws the title line, "Install Zephyrdesk 2.20" in the current language. */
void drawTitle(void) {
    if (gExitDone) return;
    char title[256];
    strcpy(title, text(TXT_TITLE));
    strcat(title, TITLE_SUFFIX);
    putText(0, 64, SCREEN_WIDTH, title, COLOUR_TITLE, 2);
}

/* Background, title, heading panel at h with its text, and the empty body
 * panel of height H at b: what every page shares. */
static void drawPanels(dword h, const char *heading, dword b, dword H) {
    word region = (word)gRgnScreen;
    TAP_Osd_FillBox(region, 0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, COLOUR_BACKGROUND);
    drawTitle();
    TAP_Osd_DrawRectangle(region, PANEL_X - 2, h, 424, 38, 2, COLOUR_BORDER);
    TAP_Osd_FillBox(region, PANEL_X, h + 2, 420, 34, COLOUR_HEADING_PANEL);
    putText(PANEL_X, h + 8, PANEL_RIGHT, heading, COLOUR_HEADING, 1);
    TAP_Osd_DrawRectangle(region, PANEL_X - 2, b, 424, H, 2, COLOUR_BORDER);
    TAP_Osd_FillBox(region, PANEL_X, b + 2, 420, H - 4, COLOUR_BODY_PANEL);
}

static void bodyLine(dword y, int index) { putText(PANEL_X, y, PANEL_RIGHT, text(index), COLOUR_TEXT, 1); }

/* Draws the language screen with the button of gLanguage selected; creates
 * the region first when there is none. */
void drawScreenLng(void) {
    static const char *const labels[LANGUAGES] = {"EN", "DE", "NL", "FR"};
    if (gExitDone) return;
    TAP_ExitNormal();
    if (gRgnScreen == 0) gRgnScreen = TAP_Osd_Create(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, 0, 0x1000);
    drawPanels(165, text(TXT_LNG_HEADING), 201, 210);
    bodyLine(220, TXT_LNG_LINE1);
    bodyLine(250, TXT_LNG_LINE2);
    bodyLine(280, TXT_PROCEED);
    bodyLine(310, TXT_QUIT);
    for (int i = 0; i < LANGUAGES; i++) drawButton(170 + 100 * i, 355, 80, labels[i], gLanguage == i);
    TAP_Osd_Sync();
}

/* Draws the target screen with the button of option (OPTION_AUTOSTART ..
 * OPTION_EXIT) selected.  The region must exist. */
void drawScreenTarget(int option) {
    if (gExitDone) return;
    TAP_ExitNormal();
    drawPanels(135, text(TXT_TARGET_HEADING), 171, 268);
    bodyLine(190, TXT_TARGET_LINE);
    bodyLine(220, TXT_PROCEED);
    bodyLine(250, TXT_QUIT);
    drawButton(260, 295, 220, "/ProgramFiles/AutoStart", option == OPTION_AUTOSTART);
    drawButton(260, 340, 220, "/ProgramFiles", option == OPTION_PROGRAMFILES);
    drawButton(260, 385, 220, text(TXT_EXIT), option == OPTION_EXIT);
    TAP_Osd_Sync();
}

/* Draws the install screen with a bar of done / total (0 of 0 is an empty
 * bar; done above total is drawn as a full bar) and, when complete is
 * non-zero, the "Complete" heading and the selected Exit button.  The
 * region must exist; nothing is drawn once exitRoutine has deleted it. */
void drawScreenInstall(dword done, dword total, int complete) {
    if (gExitDone) return;
    word region = (word)gRgnScreen;
    TAP_ExitNormal();
    drawPanels(210, text(complete ? TXT_COMPLETE : TXT_INSTALLING), 246, 120);
    TAP_Osd_DrawRectangle(region, 178, 270, 364, 20, 2, COLOUR_BORDER);
    TAP_Osd_FillBox(region, 180, 272, 360, 16, COLOUR_BUTTON);
    if (done != 0 && total != 0) {
        if (done > total) done = total; // keeps the bar inside its trough
        dword width = (dword)((uint64_t)done * BAR_FULL_WIDTH / total);
        if (width != 0) TAP_Osd_FillBox(region, 182, 275, width, 11, COLOUR_BAR);
    }
    if (complete) drawButton(300, 310, 122, text(TXT_EXIT), 1);
    TAP_Osd_Sync();
}

/* ---- Keys ----------------------------------------------------------- */

static int isExitKey(dword key) { return key == KEY_EXIT_REMOTE || key == KEY_EXIT_PANEL; }

static int isConfirmKey(dword key) { return key == KEY_OK_REMOTE || key == KEY_OK_PANEL; }

static int isBackKey(dword key) {
    return key == KEY_BACK_REMOTE_1 || key == KEY_BACK_REMOTE_2 || key == KEY_BACK_REMOTE_3 ||
           key == KEY_BACK_REMOTE_4 || key == KEY_BACK_PANEL_1 || key == KEY_BACK_PANEL_2;
}

/* Sets gLanguage from the receiver's language setting; a setting without
 * a matching language leaves it as it is. */
void setDefaultLanguage(void) {
    switch (TAP_GetSystemVar(SYSVAR_LANGUAGE)) {
    case 0: gLanguage = LANG_EN; break;
    case 1: gLanguage = LANG_FR; break;
    case 2: gLanguage = LANG_DE; break;
    case 11: gLanguage = LANG_NL; break;
    default: break;
    }
}

/* Moves the selection of the language or target screen by step (-1 or
 * +1), wrapping around, and redraws that screen; does nothing elsewhere. */
void changeSelection(int step) {
    if (gInstallStep == STEP_LANGUAGE) {
        int n = gLanguage + step;
        if (n < 0) n = LANGUAGES - 1;
        if (n >= LANGUAGES) n = 0;
        gLanguage = n;
        drawScreenLng();
    } else if (gInstallStep == STEP_TARGET) {
        int n = selectedOption + step;
        if (n < 0) n = OPTION_EXIT;
        if (n > OPTION_EXIT) n = OPTION_AUTOSTART;
        selectedOption = n;
        drawScreenTarget(n);
    }
}

/* Takes the installer off the screen and ends the TAP: deletes the region,
 * gives the display back to the firmware, then TAP_Exit, whose result it
 * returns.  From then on nothing is drawn; a second call does nothing and
 * returns 0. */
dword exitRoutine(void) {
    if (gExitDone) return 0;
    if (gRgnScreen != 0) TAP_Osd_Delete((word)gRgnScreen);
    gExitDone = 1;
    TAP_Osd_Sync();
    TAP_EnterNormal();
    return TAP_Exit();
}

/* The firmware's entry after loading: everything else happens in the
 * event handler, so this only keeps the TAP loaded. */
int TAP_Main(void) { return 1; }

/* Called by the firmware for every event.  Returns 0 for a key acted on,
 * the key code for a key left to the firmware, and param1 for any other
 * event (and for every event after exitRoutine). */
dword TAP_EventHandler(word event, dword param1, dword param2) {
    (void)param2;
    if (gExitDone) return param1;
    if (initFlag) {
        TAP_ExitNormal();
        selectedOption = OPTION_EXIT;
        setDefaultLanguage();
        drawScreenLng();
        initFlag = 0;
    }
    if (event != EVT_KEY) return param1;

    dword key = param1;
    if (isExitKey(key)) {
        exitRoutine();
        return 0;
    }
    if (isConfirmKey(key)) {
        if (ignoreKeys) return key;
        if (gInstallStep == STEP_LANGUAGE) {
            gInstallStep = STEP_TARGET;
            drawScreenTarget(selectedOption);
        } else if (gInstallStep == STEP_TARGET && selectedOption != OPTION_EXIT) {
            gInstallStep = STEP_INSTALL;
            drawScreenInstall(0, 0, 0);
            startInstallation();
        } else {
            exitRoutine();
        }
        return 0;
    }
    if (ignoreKeys || key > KEY_LAST_CODE) return key;
    changeSelection(isBackKey(key) ? -1 : +1);
    return 0;
}

/* ---- Installation log ----------------------------------------------- */

/* Whether the working directory is folder (the firmware may keep it with a
 * final "/"). */
static int inFolder(const char *folder) {
    char dir[PATH_BUFFER_SIZE];
    dir[0] = '\0';
    HDD_TAP_GetCurrentDir(dir);
    size_t length = strlen(folder);
    return strncmp(dir, folder, length) == 0 && (dir[length] == '\0' || strcmp(dir + length, "/") == 0);
}

/* Makes sure that /ProgramFiles/Settings/Logs and the installation log in
 * it exist (an existing log is left as it is).  A folder that cannot be
 * entered gets nothing made in its place in the folder the TAP was in.
 * The TAP's working directory is the same afterwards. */
void createLogFile(void) {
    HDD_TAP_PushDir();
    TAP_Hdd_ChangeDir("/ProgramFiles");
    if (inFolder("/ProgramFiles") && !TAP_Hdd_Exist("Settings")) TAP_Hdd_Create("Settings", ATTR_FOLDER);
    TAP_Hdd_ChangeDir("/ProgramFiles/Settings");
    if (inFolder("/ProgramFiles/Settings") && !TAP_Hdd_Exist("Logs")) TAP_Hdd_Create("Logs", ATTR_FOLDER);
    TAP_Hdd_ChangeDir(LOG_FOLDER);
    if (inFolder(LOG_FOLDER) && !TAP_Hdd_Exist(LOG_FILE)) TAP_Hdd_Create(LOG_FILE, ATTR_FILE);
    HDD_TAP_PopDir();
}

/* Appends text (NUL-terminated, the caller's) as one time-stamped line to
 * the installation log and echoes it to the console.  Without the log
 * folder the line goes to the console only (never into a log file of the
 * folder the TAP was in).  The TAP's working directory is the same
 * afterwards. */
void LogWriteEntry(const char *line) {
    HDD_TAP_PushDir();
    TAP_Hdd_ChangeDir(LOG_FOLDER);
    LogEntry(inFolder(LOG_FOLDER) ? LOG_FILE : NULL, LOG_PROGRAM, 1, TIMESTAMP_YMDHMS, line);
    HDD_TAP_PopDir();
}

/* One line into the installation log, formatted into logEntry. */
#define LOG_LINE(...)                   \
    do {                                \
        TAP_SPrint(logEntry, __VA_ARGS__); \
        LogWriteEntry(logEntry);        \
    } while (0)

/* ---- The archive in ".Payload" -------------------------------------- */

/* The parts of a tar header block that the extractor reads. */
#define TAR_BLOCK 512
#define TAR_NAME_WIDTH 100
#define TAR_SIZE_AT 124
#define TAR_MTIME_AT 136
#define TAR_NUMBER_WIDTH 12
#define TAR_CHECKSUM_AT 148
#define TAR_CHECKSUM_WIDTH 8
#define TAR_TYPE_AT 156
#define LONG_NAME_MAX 510 /* "/" + name + NUL fill the 512-byte path buffer */

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the CRC-32 below reads little-endian words"
#endif

/* CRC-32 tables for eight bytes at a time, made on first use. */
static dword crcTable[8][256];
static int crcTableReady = 0;

static void makeCRCTable(void) {
    for (dword n = 0; n < 256; n++) {
        dword c = n;
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crcTable[0][n] = c;
    }
    for (dword n = 0; n < 256; n++)
        for (int t = 1; t < 8; t++) crcTable[t][n] = crcTable[0][crcTable[t - 1][n] & 0xFF] ^ (crcTable[t - 1][n] >> 8);
    crcTableReady = 1;
}

/* Returns the CRC-32 of length bytes at data (reflected polynomial
 * 0xEDB88320, initial and final value 0xFFFFFFFF: zlib's crc32). */
dword payloadCRC32(const void *data, dword length) {
    if (!crcTableReady) makeCRCTable();
    const byte *p = (const byte *)data;
    dword c = 0xFFFFFFFFu;
    while (length != 0 && ((uintptr_t)p & 3) != 0) {
        c = crcTable[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
        length--;
    }
    for (; length >= 8; p += 8, length -= 8) {
        dword lo, hi;
        memcpy(&lo, __builtin_assume_aligned(p, 4), 4);
        memcpy(&hi, __builtin_assume_aligned(p + 4, 4), 4);
        lo ^= c;
        c = crcTable[7][lo & 0xFF] ^ crcTable[6][(lo >> 8) & 0xFF] ^ crcTable[5][(lo >> 16) & 0xFF] ^
            crcTable[4][lo >> 24] ^ crcTable[3][hi & 0xFF] ^ crcTable[2][(hi >> 8) & 0xFF] ^
            crcTable[1][(hi >> 16) & 0xFF] ^ crcTable[0][hi >> 24];
    }
    while (length-- != 0) c = crcTable[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

/* Returns the flags of an archive name (the header's name field): 12 and
 * 4 for the two Zephyrdesk TAPs, FILE_FLAG_KEEP_NEWER for the firmware
 * data file, 0 for any other name. */
int getFileFlags(const char *name) {
    if (strcmp(name, "mnt/hd/ProgramFiles/Zephyrdesk-Config.tap") == 0) return 12;
    if (strcmp(name, "mnt/hd/ProgramFiles/Zephyrdesk.tap") == 0) return 4;
    if (strcmp(name, "mnt/hd/ProgramFiles/FirmwareTMS.dat") == 0) return FILE_FLAG_KEEP_NEWER;
    return 0;
}

/* The octal number of a header field, converted as strtol with base 8 does
 * but never read past the field, and held to 32 bits signed. */
static int octalField(const byte *field, int width) {
    char text[TAR_NUMBER_WIDTH + 1];
    memcpy(text, field, width);
    text[width] = 0;
    long long value = strtol(text, NULL, 8);
    if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
    if (value < -0x80000000LL) value = -0x80000000LL;
    return (int)value;
}

/* Whether the header's checksum field matches its bytes (summed with the
 * field itself as blanks, unsigned or, as old tars did, signed). */
static int checksumMatches(const byte *header) {
    int stored = octalField(header + TAR_CHECKSUM_AT, TAR_CHECKSUM_WIDTH);
    int unsignedSum = 0, signedSum = 0;
    for (int i = 0; i < TAR_BLOCK; i++) {
        byte b = (i >= TAR_CHECKSUM_AT && i < TAR_CHECKSUM_AT + TAR_CHECKSUM_WIDTH) ? ' ' : header[i];
        unsignedSum += b;
        signedSum += (signed char)b;
    }
    return stored == unsignedSum || stored == signedSum;
}

/* Whether one of the name's components is "..". */
static int climbsUp(const char *name) {
    for (const char *part = name;;) {
        const char *slash = strchr(part, '/');
        size_t length = slash ? (size_t)(slash - part) : strlen(part);
        if (length == 2 && part[0] == '.' && part[1] == '.') return 1;
        if (!slash) return 0;
        part = slash + 1;
    }
}

/* Sets both times of path to mtime; logs failure (a format with errno). */
static void setArchiveTime(const char *path, int mtime, const char *failure) {
    struct utimbuf times;
    times.actime = times.modtime = (time_t)mtime;
    errno = 0;
    if (utime(path, &times) != 0) LOG_LINE(failure, errno);
}

/* Creates or truncates path and writes size bytes of data to it in one
 * call; a complete file gets the archive time. */
static void extractFile(const char *path, const byte *data, int size, int mtime) {
    LOG_LINE("  Creating file: '%s', %d bytes.", path, size);
    errno = 0;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
        LOG_LINE("  ** Error creating file, errno %d.", errno);
        return;
    }
    errno = 0;
    ssize_t written = write(fd, data, (size_t)size);
    if (written < size)
        LOG_LINE("  ** Error writing file contents: %d of %d written, errno %d.", (int)written, size, errno);
    else
        setArchiveTime(path, mtime, "  ** Error setting file time. errno = %d.");
    close(fd);
}

/* Creates the directory path (one that exists counts as made) and gives it
 * the archive time. */
static void extractDirectory(const char *path, int mtime) {
    LOG_LINE("  Creating directory: '%s'.", path);
    errno = 0;
    int result = mkdir(path, 0777);
    int error = result == 0 ? 0 : errno; // a call that succeeds may still leave errno changed
    LOG_LINE("  Directory created with result %d, errno = %d.", result, error);
    if (result == -1 && error != EEXIST)
        LOG_LINE("  ** Big booboo occurred, errno %d.", error);
    else
        setArchiveTime(path, mtime, "  ** Error setting dir time. errno = %d.");
}

/* What is wrong with the header block at cursor, or null when the walk may
 * take it: the block, its data and a long name lie inside the section, the
 * checksum holds (empty blocks excepted), and no name that becomes a path
 * climbs up with "..".  savedName: the long name for this header, or null. */
static const char *damage(const byte *archive, dword size, dword cursor, const char *savedName) {
    dword left = size - cursor;
    if (left < TAR_BLOCK) return "header block cut short";
    const byte *header = archive + cursor;
    int empty = header[0] == 0;
    if (!empty && !checksumMatches(header)) return "header checksum wrong";
    int entrySize = octalField(header + TAR_SIZE_AT, TAR_NUMBER_WIDTH);
    if (entrySize < 0) return "negative size";
    if ((dword)entrySize > left - TAR_BLOCK) return "data past the end of the section";
    if (empty) return NULL;
    if (header[TAR_TYPE_AT] == 'L') {
        if (left - TAR_BLOCK < TAR_BLOCK) return "data past the end of the section";
        const char *longName = (const char *)header + TAR_BLOCK;
        if (!memchr(longName, 0, TAR_BLOCK)) return "long name without end";
        if (strlen(longName) > LONG_NAME_MAX) return "long name over 510 characters";
        if (climbsUp(longName)) return "name with a '..' component";
        return NULL;
    }
    if (savedName) return NULL; // checked at its own long-name entry
    char name[TAR_NAME_WIDTH + 1];
    memcpy(name, header, TAR_NAME_WIDTH);
    name[TAR_NAME_WIDTH] = 0;
    return climbsUp(name) ? "name with a '..' component" : NULL;
}

/* Walks every 512-byte header position of the mapped archive from the
 * first to the section's end, creating its directories and files under
 * "/" and moving the progress bar once per header block.  Stops at the
 * first damaged header. */
static void walkArchive(const byte *archive, dword size) {
    char path[PATH_BUFFER_SIZE];
    char savedName[PATH_BUFFER_SIZE];
    char name[TAR_NAME_WIDTH + 1]; // a field of 100 characters has no NUL of its own
    int haveSavedName = 0;
    for (dword cursor = 0;;) {
        const char *reason = damage(archive, size, cursor, haveSavedName ? savedName : NULL);
        if (reason) {
            LOG_LINE("  ** Damaged archive at offset %d: %s. Extraction stopped.", (int)cursor, reason);
            return;
        }
        const byte *header = archive + cursor;
        int entrySize = octalField(header + TAR_SIZE_AT, TAR_NUMBER_WIDTH);
        int mtime = octalField(header + TAR_MTIME_AT, TAR_NUMBER_WIDTH);
        char type = (char)header[TAR_TYPE_AT];
        if (header[0] == 0) {
            haveSavedName = 0; // a long name serves only the header right after it
        } else {
            memcpy(name, header, TAR_NAME_WIDTH);
            name[TAR_NAME_WIDTH] = 0;
            int flags = getFileFlags(name);
            LOG_LINE("Processing file: '%s', flags: %d, type: '%c'.", name, flags, type);
            TAP_SPrint(path, "/%s", haveSavedName ? savedName : name);
            haveSavedName = 0;
            int skip = 0;
            if (flags & FILE_FLAG_KEEP_NEWER) {
                struct stat64 disk;
                int found = stat64(path, &disk) == 0;
                LOG_LINE("  TAR time %d, HDD atime: %d, mtime: %d, ctime %d.", mtime, found ? (int)disk.st_atime : 0,
                         found ? (int)disk.st_mtime : 0, found ? (int)disk.st_ctime : 0);
                if (found && mtime < (int)disk.st_mtime) {
                    skip = 1;
                    LOG_LINE("  TAR file older, not copying.");
                }
            }
            if (type == 'L' && !skip) {
                strcpy(savedName, (const char *)header + TAR_BLOCK);
                LOG_LINE("     Saved name: '%s', for the next file.", savedName);
                haveSavedName = 1;
                entrySize = TAR_BLOCK;
                skip = 1;
            }
            if ((type == '0' || type == 0) && !skip) extractFile(path, header + TAR_BLOCK, entrySize, mtime);
            if (type == '5' && !skip) extractDirectory(path, mtime);
        }
        drawScreenInstall(cursor, size, 0);
        dword step = TAR_BLOCK + ((dword)entrySize + TAR_BLOCK - 1) / TAR_BLOCK * TAR_BLOCK;
        if (step >= size - cursor) return; // the next header would lie at or past the section's end
        cursor += step;
    }
}

/* How many of the size bytes at offset the open file holds. */
static dword sectionBytesInFile(int fd, int offset, dword size) {
    off_t end = lseek(fd, 0, SEEK_END);
    if (offset < 0 || end <= (off_t)offset) return 0;
    unsigned long long available = (unsigned long long)(end - offset);
    return available < size ? (dword)available : size;
}

/* Unpacks the archive of size bytes at file offset offset (a multiple of
 * 4096) of gMyTAPFileName onto the disk, logging every step.  Nothing is
 * written when the file does not hold the whole section or, with
 * gPayloadCRCFound set, when its CRC-32 is not gPayloadCRC. */
void deliverPayload(int offset, dword size) {
    errno = 0;
    int fd = gMyTAPFileName ? open(gMyTAPFileName, O_RDONLY) : -1;
    if (fd < 0) {
        if (!gMyTAPFileName) errno = ENOENT;
        LOG_LINE("Error opening TAP file. errno = %d.", errno);
        return;
    }
    // a page of the mapping beyond the file's end would kill the firmware on first touch
    dword present = sectionBytesInFile(fd, offset, size);
    if (present < size) {
        LOG_LINE("Error: TAP file damaged, payload incomplete (%d of %d bytes). Nothing installed.", (int)present,
                 (int)size);
        close(fd);
        return;
    }
    errno = 0;
    void *map = mmap(NULL, size, PROT_READ, MAP_SHARED, fd, offset);
    if (map == MAP_FAILED) {
        LOG_LINE("Error creating mmap(). errno = %d,", errno);
        close(fd);
        return;
    }
    tarMemMap = map;
    const byte *archive = (const byte *)tarMemMap;
    dword crc = gPayloadCRCFound ? payloadCRC32(archive, size) : 0;
    if (gPayloadCRCFound && crc != gPayloadCRC) {
        LOG_LINE("Error: TAP file damaged, payload checksum %08X instead of %08X. Nothing installed.", crc,
                 gPayloadCRC);
    } else {
        walkArchive(archive, size);
        drawScreenInstall(100, 100, 0);
    }
    munmap(map, size);
    close(fd);
}

/* ---- The installation run ------------------------------------------- */

#define TAPID_MAIN 0x5152560F      /* Zephyrdesk.tap */
#define TAPID_CONFIG 0x51525610    /* Zephyrdesk-Config.tap */
#define TAPID_INSTALLER 0x51525619 /* this TAP */
#define AUTOSTART_FOLDER "/ProgramFiles/AutoStart"
#define AUTOSTART_COPY "cp /mnt/hd/ProgramFiles/Zephyrdesk.tap /mnt/hd/ProgramFiles/AutoStart/Zephyrdesk.tap"

/* Finds the TAP with that ID among the slots; a running one is logged and
 * asked to stop.  *slot becomes its slot or -1, *file its file when the
 * firmware names it. */
static void stopRunningTap(dword id, int *slot, char **file) {
    *slot = HDD_TAP_GetIndexByID(id);
    if (*slot < 0) return;
    HDD_TAP_GetFileNameByIndex((unsigned)*slot, file);
    LOG_LINE("TAPID 0x%08X running in slot %d from '%s'.", id, *slot, *file ? *file : "(unknown)");
    LOG_LINE("Terminating TAP.");
    HDD_TAP_Terminate(id);
}

/* Stops the running Zephyrdesk TAPs, the main TAP first, and notes whether
 * the main TAP is in AutoStart before anything is extracted. */
void preInstallation(void) {
    LOG_LINE("Performing pre-installation checks.");
    stopRunningTap(TAPID_MAIN, &gTAPIndex1, &gTAPFile1);
    gTAPAutoFlag1 = 0;
    HDD_TAP_PushDir();
    TAP_Hdd_ChangeDir(AUTOSTART_FOLDER);
    // a change that did not happen must not find the file in the folder the TAP was in
    if (inFolder(AUTOSTART_FOLDER) && TAP_Hdd_Exist("Zephyrdesk.tap")) gTAPAutoFlag1 = 1;
    HDD_TAP_PopDir();
    stopRunningTap(TAPID_CONFIG, &gTAPIndex2, &gTAPFile2);
    LOG_LINE("Pre-installation checks complete.");
}

/* Copies the main TAP into AutoStart when the user chose AutoStart or it
 * was there before the run. */
void postInstallation(void) {
    LOG_LINE("Performing post-installation actions.");
    if (gTAPAutoFlag1 == 1 || gSavedOption == OPTION_AUTOSTART) {
        if (gSavedOption == OPTION_AUTOSTART)
            LOG_LINE("Copying Zephyrdesk into AutoStart by user request.");
        else
            LOG_LINE("Copying Zephyrdesk into AutoStart because it was already there.");
        char command[1024];
        strcpy(command, AUTOSTART_COPY);
        errno = 0;
        int result = system(command);
        LOG_LINE("Return code = %d, errno = %d.", result, errno);
    }
    LOG_LINE("Post-installation actions complete.");
}

/* Finds ".Payload" in the installer's own file: its offset and size, 0 and
 * 0 when the file or the section cannot be read, and the CRC-32 of
 * ".PayloadCRC" for the extractor's check when the file has one. */
static void findPayload(dword *offset, dword *size) {
    *offset = *size = 0;
    gPayloadCRCFound = 0;
    int index = 0;
    if (ELFOpenFile(gMyTAPFileName) && ELFReadELFHeader() && ELFReadSectionHeaders() && ELFReadShstrtabSection())
        index = ELFGetSectionIndex(".Payload");
    if (index != 0) {
        ELFGetSectionOffset(index, offset, size);
        int crc = ELFGetSectionIndex(".PayloadCRC");
        if (crc != 0 && ELFReadDWORD(crc, &gPayloadCRC)) gPayloadCRCFound = 1;
    }
    ELFCleanup();
}

/* The installation: runs to its end inside the event that confirmed the
 * target, logging every step.  Ends the TAP at once when it cannot find
 * its own slot or file. */
void startInstallation(void) {
    gSavedOption = selectedOption;
    ignoreKeys = 1;
    createLogFile();
    LOG_LINE("Starting installation.");
    preInstallation();

    gMyTAPIndex = HDD_TAP_GetIndexByID(TAPID_INSTALLER);
    if (gMyTAPIndex == -1) {
        LOG_LINE("Failed to find my own TAP instance.  How messed up is that?");
        exitRoutine();
        return;
    }
    LOG_LINE("I found myself at index %d.", gMyTAPIndex);
    if (!HDD_TAP_GetFileNameByIndex((unsigned)gMyTAPIndex, &gMyTAPFileName)) {
        LOG_LINE("Failed to find my own TAP name.  Pretty messed up!");
        exitRoutine();
        return;
    }
    LOG_LINE("My file name is '%s'.", gMyTAPFileName);

    dword offset, size;
    findPayload(&offset, &size);
    LOG_LINE("Installing from '%s'.", gMyTAPFileName);
    LOG_LINE("Payload offset: %d, payload size: %d.", (int)offset, (int)size);
    deliverPayload((int)offset, size);
    drawScreenInstall(100, 100, 0);
    postInstallation();

    selectedOption = OPTION_EXIT;
    drawScreenInstall(100, 100, 1);
    ignoreKeys = 0;
    LOG_LINE("Installation complete.");
}
