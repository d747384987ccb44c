/*
 * The firmware's printing, system and lifecycle calls.
 */
#include <stdarg.h>
#include <stdio.h>

#include "entries.h"
#include "../tasks/tasks.h"

int fwSPrint(char *buffer, const char *format, ...) {
    if (!buffer || !format) return 0;
    va_list ap;
    va_start(ap, format);
    int r = vsprintf(buffer, format, ap);
    va_end(ap);
    if (emu.options.traceAll)
        traceLine("TAP_SPrint " + traceString(buffer) + " " + traceString(format) + " -> " + num(r));
    return r;
}

int fwPrint(const char *format, ...) {
    std::string text;
    if (format) {
        va_list ap, copy;
        va_start(ap, format);
        va_copy(copy, ap);
        int n = vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (n > 0) {
            text.resize((size_t)n + 1);
            vsnprintf(&text[0], text.size(), format, ap);
            text.resize((size_t)n);
        }
        va_end(ap);
    }
    traceLine("TAP_Print " + traceString(format ? text.c_str() : nullptr) + " -> " + num((long long)text.size()));
    return (int)text.size();
}

dword fwGetVersion(void) {
    traceLine("TAP_GetVersion -> " + unum(EMU_FIRMWARE_VERSION));
    return EMU_FIRMWARE_VERSION;
}

int fwGetSystemVar(int variable) {
    int r = variable == SYSVAR_LANGUAGE ? emu.options.language : 0;
    traceLine("TAP_GetSystemVar " + num(variable) + " -> " + num(r));
    return r;
}

void fwSleep(dword hundredths) {
    traceLine("TAP_Sleep " + unum(hundredths));
    emuSleepCalled();
}

dword fwExit(void) {
    traceLine("TAP_Exit -> 0");
    emuEndRequested();
    return 0;
}
