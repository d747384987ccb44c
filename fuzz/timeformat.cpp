/*
 * TimeFormat on an arbitrary firmware time and second with every format
 * code (0 to 7, 255, and the code the input gives), into a destination
 * of the 23 bytes that the longest result needs.
 *
 * The input: the firmware time (4 bytes, little-endian), the second, and
 * a format code (4 bytes), missing bytes taken as 0.  Every result is
 * compared with the text made here from the time's fields: the date from
 * the Modified Julian Date by the civil calendar (no date for MJD 0), and
 * the table of formats.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "fuzzreceiver.h"
#include "velalib.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzStartReceiver();
    return 0;
}

/* The Gregorian date of a Modified Julian Date (days since 1858-11-17). */
static void civilDate(long mjd, int *year, int *month, int *day) {
    long days = mjd + 678881;  // days since 0000-03-01
    long era = days / 146097, dayOfEra = days % 146097;
    long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    long m = (5 * dayOfYear + 2) / 153;
    *day = (int)(dayOfYear - (153 * m + 2) / 5 + 1);
    *month = (int)(m < 10 ? m + 3 : m - 9);
    *year = (int)(era * 400 + yearOfEra + (*month <= 2));
}

static void expected(dword fwTime, byte second, unsigned format, char *text, size_t size) {
    int mjd = (int)(fwTime >> 16), hour = (fwTime >> 8) & 0xFF, minute = fwTime & 0xFF;
    int year = 0, month = 0, day = 0;
    if (mjd != 0) civilDate(mjd, &year, &month, &day);
    switch (format) {
    case 1: snprintf(text, size, "%02d:%02d", hour, minute); break;
    case 2: snprintf(text, size, "%02d:%02d:%02d", hour, minute, second); break;
    case 3: snprintf(text, size, "%02d-%02d-%02d", year, month, day); break;
    case 4: snprintf(text, size, "%04d-%02d-%02d %02d:%02d", year, month, day, hour, minute); break;
    case 5: snprintf(text, size, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second); break;
    case 6: snprintf(text, size, "%04d%02d%02d_%02d%02d", year, month, day, hour, minute); break;
    default: text[0] = 0; break;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    uint8_t bytes[9] = {0};
    memcpy(bytes, data, size < sizeof bytes ? size : sizeof bytes);
    dword fwTime = (dword)bytes[0] | (dword)bytes[1] << 8 | (dword)bytes[2] << 16 | (dword)bytes[3] << 24;
    byte second = bytes[4];
    unsigned given = (unsigned)bytes[5] | (unsigned)bytes[6] << 8 | (unsigned)bytes[7] << 16 | (unsigned)bytes[8] << 24;
    const unsigned formats[] = {0, 1, 2, 3, 4, 5, 6, 7, 255, given};
    for (unsigned format : formats) {
        char *result = (char *)malloc(23);
        FUZZ_CHECK(TimeFormat(fwTime, second, format, result) == result, "code %u: another pointer", format);
        char want[64];
        expected(fwTime, second, format, want, sizeof want);
        FUZZ_CHECK(strcmp(result, want) == 0, "time 0x%08X second %u code %u: \"%s\", not \"%s\"",
                   (unsigned)fwTime, second, format, result, want);
        free(result);
    }
    FUZZ_CHECK(TimeFormat(fwTime, second, 5, NULL) == NULL, "no buffer");
    return 0;
}
