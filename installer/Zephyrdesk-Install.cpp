/*
 * Zephyrdesk-Install: entry points, key handling, the three pages of the
 * installer and its installation log.
 *
 * The firmware calls TAP_Main once and then hands every event to
 * TAP_EventHandler.  The first event of any kind sets the installer up and
 * draws the language screen; keys then move the selection, confirm a page
 * or leave through exitRoutine.  Everything is drawn on one 720 x 576 OSD
 * region, each page a full repaint followed by TAP_Osd_Sync.
 */
#include <stdint.h>
#include <string.h>

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

/* The installation run: returns at once in this build; the run itself is
 * not written yet. */
void startInstallation(void) {}

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

/* Makes sure that /ProgramFiles/Settings/Logs and the installation log in
 * it exist (an existing log is left as it is).  The TAP's working
 * directory is the same afterwards. */
void createLogFile(void) {
    HDD_TAP_PushDir();
    TAP_Hdd_ChangeDir("/ProgramFiles");
    if (!TAP_Hdd_Exist("Settings")) TAP_Hdd_Create("Settings", ATTR_FOLDER);
    TAP_Hdd_ChangeDir("/ProgramFiles/Settings");
    if (!TAP_Hdd_Exist("Logs")) TAP_Hdd_Create("Logs", ATTR_FOLDER);
    TAP_Hdd_ChangeDir(LOG_FOLDER);
    if (!TAP_Hdd_Exist(LOG_FILE)) TAP_Hdd_Create(LOG_FILE, ATTR_FILE);
    HDD_TAP_PopDir();
}

/* Appends text (NUL-terminated, the caller's) as one time-stamped line to
 * the installation log and echoes it to the console.  The TAP's working
 * directory is the same afterwards. */
void LogWriteEntry(const char *line) {
    HDD_TAP_PushDir();
    TAP_Hdd_ChangeDir(LOG_FOLDER);
    LogEntry(LOG_FILE, LOG_PROGRAM, 1, TIMESTAMP_YMDHMS, line);
    HDD_TAP_PopDir();
}
