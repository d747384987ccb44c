#include <stdlib.h>
#include <string.h>

#include "velalib.h"

/* Month names of the build date, numbered from 1. */
static const char *const MonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

/* A text section into its field: empty when the section is missing; a
 * longer text is cut so that the field always ends with a NUL. */
static void readText(const char *sectionName, char *field, dword fieldSize)
{
    memset(field, 0, fieldSize);
    int index = ELFGetSectionIndex(sectionName);
    if (index != 0) ELFReadData(index, field, fieldSize - 1);
}

/* The build date "Mmm dd yyyy" of "._tap_etcinfo" as a Modified Julian
 * Date from the firmware; 0 when the section is missing or cannot be read. */
static dword readBuildDate(void)
{
    char text[128];
    memset(text, 0, sizeof text);
    int index = ELFGetSectionIndex("._tap_etcinfo");
    if (index == 0 || !ELFReadData(index, text, sizeof text - 1)) return 0;
    int year = atoi(&text[7]);
    text[6] = '\0';
    int day = atoi(&text[4]);
    text[3] = '\0';
    byte month = 0;
    for (int i = 0; i < 12; i++)
        if (strcmp(text, MonthNames[i]) == 0) {
            month = (byte)(i + 1);
            break;
        }
    return TAP_MakeMjd((word)year, month, (byte)day);
}

/* HDD_TAP_GetInfo: takes the path of a TAP file (any path type) and a
 * caller-owned record.  Reads the file's identity sections into the record
 * and returns 1: the TAP ID from "._tap_id" (required, exactly 4 bytes),
 * the build date (0 when missing) and the four texts (empty when missing,
 * cut to their fields and always terminated).  Returns 0 when there is no
 * record, the file cannot be read as ELF, or "._tap_id" is missing, of
 * another size or cannot be read; the record may then be partly written.
 * Runs one complete use of the ELF reader, so it must not be called while
 * another use is open; nothing stays open afterwards. */
int HDD_TAP_GetInfo(const char *fileName, TapInfo *info)
{
    if (info == NULL) return 0;
    if (!ELFOpenFile(fileName) || !ELFReadELFHeader() || !ELFReadSectionHeaders() ||
        !ELFReadShstrtabSection()) {
        ELFCleanup();
        return 0;
    }
    int idIndex = ELFGetSectionIndex("._tap_id");
    if (idIndex == 0 || !ELFReadDWORD(idIndex, &info->TapID)) {
        ELFCleanup();
        return 0;
    }
    info->Date = readBuildDate();
    readText("._tap_program_name", info->ProgramName, sizeof info->ProgramName);
    readText("._tap_author_name", info->Author, sizeof info->Author);
    readText("._tap_description", info->Description, sizeof info->Description);
    readText("._tap_program_version", info->Version, sizeof info->Version);
    ELFCleanup();
    return 1;
}
