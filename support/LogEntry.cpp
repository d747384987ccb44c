#include <fcntl.h>
#include <string.h>
#include <unistd.h>
#include <utime.h>

#include "velalib.h"

/* Longest piece of text in one console write. */
#define ECHO_PIECE 510

/* A log line that cannot be written is dropped without a word. */
static void writeIgnoringFailure(int fd, const char *bytes, size_t count)
{
    ssize_t written = write(fd, bytes, count);
    (void)written;
}

/* LogEntry: appends one line to a log file and echoes it to the console.
 * fileName: path of any type (a bare name lies in the TAP's working
 * directory), or null/empty for no file; the file is created (mode 0666
 * less the umask) when it is missing.  programName: shown before the text
 * on the console, or null/empty.  console: non-zero echoes the line.
 * timeFormat: TimeFormat code of the time stamp (0: none).  text: written
 * to the file as it is and to the console in ISO 8859-1; null does nothing.
 * The file line is time stamp, blank (only after a stamp), text, CR LF;
 * the file then carries the receiver's current time.  Failures to open or
 * write are silent.  No result; the caller keeps its strings. */
void LogEntry(const char *fileName, const char *programName, int console, unsigned int timeFormat,
              const char *text)
{
    if (text == NULL) return;

    char stamp[40];
    byte second = 0;
    dword now = Now(&second);
    stamp[0] = '\0';
    TimeFormat(now, second, timeFormat, stamp);
    if (stamp[0] != '\0') strcat(stamp, " ");

    if (fileName != NULL && fileName[0] != '\0') {
        char path[PATH_BUFFER_SIZE];
        path[0] = '\0';
        ConvertPathType(fileName, path, PT_LinuxFile);
        int fd = path[0] != '\0' ? open(path, O_WRONLY | O_APPEND | O_CREAT, 0666) : -1;
        if (fd >= 0) {
            writeIgnoringFailure(fd, stamp, strlen(stamp));
            if (text[0] != '\0') writeIgnoringFailure(fd, text, strlen(text));
            writeIgnoringFailure(fd, "\r\n", 2);
            close(fd);
            struct utimbuf times;
            times.actime = times.modtime = (time_t)PvrTimeToLinux(Now(NULL));
            utime(path, &times);
        }
    }

    if (console == 0) return;

    if (timeFormat != 0) {
        TAP_SPrint(puffer, "%s", stamp);
        PrintNet(puffer);
    }
    if (programName != NULL && programName[0] != '\0') {
        TAP_SPrint(puffer, "%.*s: ", (int)sizeof puffer - 3, programName);
        PrintNet(puffer);
    }

    char *iso = NULL;
    StrToISOAlloc(text, &iso);
    if (iso != NULL && iso[0] != '\0') {
        size_t length = strlen(iso);
        for (size_t start = 0; start < length; start += ECHO_PIECE) {
            size_t end = start + ECHO_PIECE < length ? start + ECHO_PIECE : length;
            char kept = iso[end];
            iso[end] = '\0';
            TAP_SPrint(puffer, "%s", iso + start);
            PrintNet(puffer);
            iso[end] = kept;
        }
    }
    TAP_SPrint(puffer, "\n");
    PrintNet(puffer);
    TAP_MemFree(iso);
}
