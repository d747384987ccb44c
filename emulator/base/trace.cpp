/*
 * trace.txt: one line per firmware call or event, flushed per line, so
 * that a crash of the TAP still leaves everything up to the crash.  On
 * the receiver side in the sandbox the lines go into the channel's ring
 * instead, which keeps them just as well without a system call per line
 * (a receiver side without the sandbox has trace.txt open and keeps to
 * it).
 */
#include <stdio.h>
#include <unistd.h>

#include "base.h"
#include "channel.h"

/* trace.txt while a receiver runs in this process. */
static FILE *traceFile = nullptr;

bool traceOpen(const std::string &path) {
    traceClose();
    int fd = emuCreateOutput(path, 0);
    if (fd < 0) return false;
    traceFile = fdopen(fd, "wb");
    if (!traceFile) close(fd);
    return traceFile != nullptr;
}

void traceClose(void) {
    if (traceFile) fclose(traceFile);
    traceFile = nullptr;
}

void traceLine(const std::string &line) {
    // a receiver side without the sandbox writes its own trace.txt
    if (!traceFile && channelActive()) {
        channelTraceLine(line.data(), line.size());
        return;
    }
    if (!traceFile) return;
    fwrite(line.data(), 1, line.size(), traceFile);
    fputc('\n', traceFile);
    fflush(traceFile);
}

std::string traceString(const char *text) {
    if (!text) return "NULL";
    std::string s = "\"";
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        if (*p == '"' || *p == '\\') {
            s += '\\';
            s += (char)*p;
        } else if (*p >= 0x20 && *p <= 0x7E) {
            s += (char)*p;
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", *p);
            s += hex;
        }
    }
    return s + "\"";
}

std::string traceColour(dword colour) {
    char hex[16];
    snprintf(hex, sizeof hex, "0x%08X", (unsigned)colour);
    return hex;
}
