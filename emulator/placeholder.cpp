#include "tapemu.h"
void emuDefaultOptions(EmuOptions *) {}
int emuStart(const EmuOptions *, char *, size_t) { return 0; }
void emuStop(void) {}
int emuAttachProgram(const char *, const char *, EmuEventHandler) { return -1; }
