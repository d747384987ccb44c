/*
 * tapemu's window (--window): the receiver's screen as the last
 * TAP_Osd_Sync left it, every screen pixel shown as scale x scale window
 * pixels, and the PC keyboard as the remote control.  It lives on the
 * host side, outside the sandbox, and is drawn with SDL2 on the PC build;
 * the receiver build has no SDL2 and opens no window.  One window at a
 * time, on the thread that opened it.
 */
#ifndef EMULATOR_HOST_WINDOW_H
#define EMULATOR_HOST_WINDOW_H

#include <stdint.h>

#include <string>
#include <vector>

enum { WINDOW_MAX_SCALE = 8 };

/* Whether this build opens windows at all. */
bool windowAvailable(void);

/* Opens the window, black, with the title: OSD_SCREEN_WIDTH * scale by
 * OSD_SCREEN_HEIGHT * scale pixels (scale 1 to WINDOW_MAX_SCALE).  false
 * with a one-line reason when it cannot. */
bool windowOpen(const std::string &title, int scale, std::string &reason);

/* Shows a synced screen: OSD_SCREEN_WIDTH * OSD_SCREEN_HEIGHT ARGB pixels
 * (alpha not shown), row after row; the window keeps it until the next. */
void windowShow(const uint32_t *screen);

/* Takes what happened to the window since the last call: the keys pressed
 * (held keys do not repeat) go to keys as remote key codes, HOST_IDLE for
 * the idle key; a window that was uncovered is drawn again.  false once
 * the window has been closed: it is gone then. */
bool windowEvents(std::vector<long> &keys);

/* Closes the window, if one is open. */
void windowClose(void);

/* The keyboard's keys and what they send, as lines of text. */
std::string windowKeyMap(void);

#endif
