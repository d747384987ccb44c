#include <stddef.h>

#include "velalib.h"

/*
 * TimeFormat: prints a firmware time and a second in one of the
 * time-stamp forms (eTimeStampFormat; codes 0 and 7 and up give the empty
 * text).  A time below 0x10000 has no date and prints it as zeros; hour,
 * minute and second print as they are.
 * result must hold the text: 23 bytes suffice for every code.  Returns
 * result, or null (writing nothing) when result is null.
 */
char *TimeFormat(dword fwTime, byte second, unsigned int format, char *result)
{
    if (result == NULL) return NULL;

    word mjd = (word)(fwTime >> 16);
    int hour = (fwTime >> 8) & 0xFF;
    int minute = fwTime & 0xFF;
    word year = 0;
    byte month = 0, day = 0, weekDay = 0;

    TAP_ExtractMjd(mjd, &year, &month, &day, &weekDay);
    if (mjd == 0) year = 0, month = 0, day = 0, weekDay = 0;

    switch (format) {
    case TIMESTAMP_HM:
        TAP_SPrint(result, "%02d:%02d", hour, minute);
        break;
    case TIMESTAMP_HMS:
        TAP_SPrint(result, "%02d:%02d:%02d", hour, minute, (int)second);
        break;
    case TIMESTAMP_YMD:
        TAP_SPrint(result, "%02d-%02d-%02d", (int)year, (int)month, (int)day);
        break;
    case TIMESTAMP_YMDHM:
        TAP_SPrint(result, "%04d-%02d-%02d %02d:%02d", (int)year, (int)month, (int)day, hour, minute);
        break;
    case TIMESTAMP_YMDHMS:
        TAP_SPrint(result, "%04d-%02d-%02d %02d:%02d:%02d", (int)year, (int)month, (int)day, hour,
                   minute, (int)second);
        break;
    case TIMESTAMP_FNYMDHM:
        TAP_SPrint(result, "%04d%02d%02d_%02d%02d", (int)year, (int)month, (int)day, hour, minute);
        break;
    default:
        result[0] = '\0';
        break;
    }
    return result;
}
