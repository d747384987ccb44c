/*
 * tapemu's window calls: the window itself lives in libtapemu_window.so
 * beside the firmware library (SDL2 and what it needs), loaded at the
 * first call that wants a window, so that a run without one never maps
 * SDL2.
 */
#include <dlfcn.h>

#include "../base/base.h"
#include "window.h"

#ifndef TAPEMU_WINDOW
#define TAPEMU_WINDOW 0
#endif

/* The loaded library's calls, null before it is loaded or when it cannot be. */
static const WindowCalls *calls = nullptr;
/* Why it cannot be loaded, once that was tried and failed. */
static std::string loadFailure;

/* Loads the window library once; false with loadFailure set when it cannot. */
static bool loadWindow(void) {
    if (calls) return true;
    if (!loadFailure.empty()) return false;
    if (!TAPEMU_WINDOW) {
        loadFailure = "--window opens a window in the PC build only: this build of tapemu has no SDL2";
        return false;
    }
    Dl_info info;
    std::string dir = ".";
    if (dladdr((void *)&windowAvailable, &info) && info.dli_fname) {
        dir = info.dli_fname;
        size_t slash = dir.rfind('/');
        dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    }
    std::string lib = dir + "/libtapemu_window.so";
    void *handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    typedef const WindowCalls *(*Entry)(void);
    Entry entry = handle ? (Entry)dlsym(handle, "tapemuWindowCalls") : nullptr;
    if (!entry) {
        const char *why = dlerror();
        loadFailure = "cannot open the window: " + lib + ": " + (why ? why : "no window calls");
        return false;
    }
    calls = entry();
    return true;
}

bool windowAvailable(void) { return TAPEMU_WINDOW; }

bool windowOpen(const std::string &title, int scale, std::string &reason) {
    if (!loadWindow()) {
        reason = loadFailure;
        return false;
    }
    return calls->open(title, scale, reason);
}

void windowShow(const uint32_t *screen) {
    if (calls) calls->show(screen);
}

bool windowEvents(std::vector<long> &keys) { return calls && calls->events(keys); }

void windowClose(void) {
    if (calls) calls->close();
}

std::string windowKeyMap(void) { return loadWindow() ? calls->keyMap() : ""; }
