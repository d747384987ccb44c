#include <string.h>

#include "velalib.h"

/* 1 until the first call has learnt what the firmware answers for a
 * change of directory that works. */
static int ReturnTypeToBeChecked = 1;

/* What TAP_Hdd_ChangeDir answered when the first call changed into
 * "/ProgramFiles". */
static int ChDirSuccessful;

/* 1 when that change did not happen, so that ChDirSuccessful holds the
 * firmware's answer for a failed change. */
static int ProbeAnsweredFailure;

/* Did a TAP_Hdd_ChangeDir that answered status work? */
static bool changeWorked(int status)
{
    return ProbeAnsweredFailure ? status != ChDirSuccessful : status == ChDirSuccessful;
}

/* True when the working directory is "/ProgramFiles", with or without a
 * final slash. */
static bool inProgramFiles(const char *dir)
{
    static const char programFiles[] = "/ProgramFiles";
    size_t length = sizeof programFiles - 1;
    return strncmp(dir, programFiles, length) == 0 &&
           (dir[length] == '\0' || (dir[length] == '/' && dir[length + 1] == '\0'));
}

/* Learns the firmware's answer for a working change by changing into
 * "/ProgramFiles" and back.  The way back goes through the directory stack
 * when there is room on it, else through a copy of the working directory. */
static void probeChangeDir(void)
{
    char saved[PATH_BUFFER_SIZE];
    saved[0] = '\0';
    int pushed = HDD_TAP_PushDir();
    if (!pushed) HDD_TAP_GetCurrentDir(saved);

    ChDirSuccessful = TAP_Hdd_ChangeDir("/ProgramFiles");
    ReturnTypeToBeChecked = 0;

    /* The firmware's record of the working directory tells whether the
     * change happened (a disk without "/ProgramFiles"). */
    char reached[PATH_BUFFER_SIZE];
    reached[0] = '\0';
    if (HDD_TAP_GetCurrentDir(reached) == 0 && reached[0] != '\0' && !inProgramFiles(reached))
        ProbeAnsweredFailure = 1;

    if (pushed)
        HDD_TAP_PopDir();
    else if (saved[0] != '\0')
        HDD_ChangeDir(saved);
}

/* HDD_ChangeDir: takes a directory path of any path type (may be null).
 * Makes it the TAP's working directory and returns 1; on firmware that
 * works in UTF-8, a directory that is not found as given is tried once more
 * in its UTF-8 form (single-byte text read as ISO 8859-9).  Returns 0 when
 * the path is null, empty, too long or no directory, or the firmware
 * refuses the change; the working directory then stays as it was.  The
 * first call of a TAP's life also learns the firmware's answer for a
 * working change (changing into "/ProgramFiles" and back). */
int HDD_ChangeDir(const char *path)
{
    /* Copied before the probe: the entry handed over by HDD_TAP_PopDir lies
     * in the stack slot that the probe's own push reuses. */
    char dir[PATH_BUFFER_SIZE];
    dir[0] = '\0';
    bool fits = true;
    if (path != NULL && path[0] != '\0') {
        size_t length = strlen(path);
        if (length + 1 >= PATH_BUFFER_SIZE) /* room for the final slash */
            fits = false;
        else
            memcpy(dir, path, length + 1);
    }

    if (ReturnTypeToBeChecked) probeChangeDir();

    if (dir[0] == '\0' || !fits) return 0;
    if (!StringEndsWith(dir, "/")) strcat(dir, "/");

    char tapDir[PATH_BUFFER_SIZE];
    ConvertPathType(dir, tapDir, PT_TapDir);
    if (tapDir[0] == '\0') return 0;
    if (changeWorked(TAP_Hdd_ChangeDir(tapDir))) return 1;

    if (!isUTFToppy()) return 0;
    /* Up to three UTF-8 bytes for every byte of the directory. */
    char utf8Dir[3 * PATH_BUFFER_SIZE];
    StrToUTF8(tapDir, utf8Dir, 9);
    return changeWorked(TAP_Hdd_ChangeDir(utf8Dir)) ? 1 : 0;
}
