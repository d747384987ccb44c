/*
 * Zephyrdesk-Install: the installer TAP's own unit.  Its state lives in
 * globals for the TAP's lifetime; the firmware reaches it only through
 * TAP_Main and TAP_EventHandler (firmware/tap.h).
 */
#ifndef INSTALLER_ZEPHYRDESK_INSTALL_H
#define INSTALLER_ZEPHYRDESK_INSTALL_H

#include "../firmware/tap.h"

/* gInstallStep: the page on the screen; it only moves forward. */
#define STEP_LANGUAGE 0
#define STEP_TARGET 1
#define STEP_INSTALL 2

/* gLanguage: row of gTexts and highlighted language button. */
#define LANG_EN 0
#define LANG_DE 1
#define LANG_NL 2
#define LANG_FR 3
#define LANGUAGES 4

/* selectedOption: highlighted button of the target screen. */
#define OPTION_AUTOSTART 0
#define OPTION_PROGRAMFILES 1
#define OPTION_EXIT 2

#define TEXTS_PER_LANGUAGE 11

extern int initFlag;        /* 1 until the first event has set the installer up */
extern int gInstallStep;    /* STEP_LANGUAGE, STEP_TARGET or STEP_INSTALL */
extern int gLanguage;       /* LANG_EN .. LANG_FR */
extern int selectedOption;  /* OPTION_AUTOSTART .. OPTION_EXIT */
extern int ignoreKeys;      /* non-zero while an installation run is in progress */
extern int gRgnScreen;      /* the one full-screen OSD region, 0 while none exists */
extern int gExitDone;       /* 1 once exitRoutine has deleted the region and ended the TAP */
extern char logEntry[1024]; /* one installation-log line at a time */
extern const char *const gTexts[LANGUAGES * TEXTS_PER_LANGUAGE]; /* screen texts, ISO 8859-1 */
extern int gSavedOption;     /* selectedOption as the run started */
extern int gTAPIndex1;       /* slot of the running main TAP, or -1 */
extern char *gTAPFile1;      /* its file, set only when it runs */
extern int gTAPIndex2;       /* slot of the running configuration TAP, or -1 */
extern char *gTAPFile2;      /* its file, set only when it runs */
extern int gTAPAutoFlag1;    /* 1 when AutoStart held the main TAP before the run */
extern int gMyTAPIndex;      /* the installer's own slot, -1 until found */
extern char *gMyTAPFileName; /* full path of the installer's own TAP file; null until the run finds it */
extern int gPayloadCRCFound; /* 1 when the run found the ".PayloadCRC" section */
extern dword gPayloadCRC;    /* the CRC-32 that ".PayloadCRC" holds */

/* Keys and lifecycle. */
void setDefaultLanguage(void);
void changeSelection(int step);
dword exitRoutine(void);
void startInstallation(void);
void preInstallation(void);
void postInstallation(void);

/* Pages.  Each one repaints the whole region and syncs the screen. */
void drawButton(dword x, dword y, dword width, const char *text, int selected);
void drawTitle(void);
void drawScreenLng(void);
void drawScreenTarget(int option);
void drawScreenInstall(dword done, dword total, int complete);

/* The archive in the TAP file's ".Payload" section, unpacked under "/". */
#define FILE_FLAG_KEEP_NEWER 1 /* not overwritten by an older archive copy */
void deliverPayload(int offset, dword size);
int getFileFlags(const char *name);
dword payloadCRC32(const void *data, dword length);

/* Installation log in /ProgramFiles/Settings/Logs. */
void createLogFile(void);
void LogWriteEntry(const char *text);

#endif
