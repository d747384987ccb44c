#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <utime.h>

#include "velalib.h"

#define VELALIB_LOG_DIR "/mnt/hd/ProgramFiles/Settings"
#define VELALIB_LOG VELALIB_LOG_DIR "/VelaLib.log"

/*
 * LogEntryVelaLibPrintf: writes one library message, formatted like printf
 * and cut to 511 characters, as a time-stamped line to
 * "/mnt/hd/ProgramFiles/Settings/VelaLib.log" (only when that file exists:
 * it is never created here) and, when console is non-zero, to the console
 * as "<time stamp>  VELALIB - <message>\n".  A null format does nothing.
 * After a write the log's access and modification times are the
 * receiver's current time.  Failures are not reported.
 */
void LogEntryVelaLibPrintf(int console, const char *format, ...)
{
    if (format == NULL) return;

    char message[512];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);

    mkdir(VELALIB_LOG_DIR, 0777);

    char stamp[40];
    byte second = 0;
    dword now = Now(&second);
    TimeFormat(now, second, TIMESTAMP_YMDHMS, stamp);
    strcat(stamp, " ");

    FILE *log = fopen(VELALIB_LOG, "r+");
    if (log != NULL) {
        fseek(log, 0, SEEK_END);
        fwrite(stamp, strlen(stamp), 1, log);
        fwrite(message, strlen(message), 1, log);
        fwrite("\r\n", 2, 1, log);
        fclose(log);

        struct utimbuf times;
        times.actime = times.modtime = (time_t)PvrTimeToLinux(Now(NULL));
        utime(VELALIB_LOG, &times);
    }

    if (console) {
        TAP_SPrint(puffer, "%s VELALIB - %s\n", stamp, message);
        PrintNet(puffer);
    }
}
