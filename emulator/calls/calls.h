/*
 * The firmware's TAP_ calls, which the loader fills into a TAP's call
 * pointers by name, and the receiver's clock.  Builds on the base,
 * display, platform and tasks rooms.
 */
#ifndef EMULATOR_CALLS_CALLS_H
#define EMULATOR_CALLS_CALLS_H

#include "../base/base.h"

/* Fills a TAP's TAP_ call pointers through lookup(context, name), which
 * gives the address of the pointer variable or null; returns how many
 * were filled. */
int emuFillCalls(void *(*lookup)(void *, const char *), void *context);

/* A fresh receiver: the clock as the options set it, no pictures yet, no
 * heap blocks in use (blocks of an earlier receiver no longer count). */
void callsResetClock(void);
void callsResetPictures(void);
void callsResetHeap(void);

/* Days of the Modified Julian Date for a Gregorian date, and back. */
long emuMjdFromDate(long year, int month, int day);
void emuDateFromMjd(long mjd, long *year, int *month, int *day);

/* Current receiver time in Linux seconds (UTC). */
long long emuNowSeconds(void);

#endif
