/*
 * The window of tapemu --window, drawn with SDL2 on its window surface:
 * the screen is scaled by whole pixels here and copied, so every window
 * pixel is exactly the colour of the screenshot's pixel, with no renderer
 * or filter in between.  On X11 a window that another program destroys
 * (xdotool windowclose) or whose connection to the display is lost (xkill,
 * the display ending) counts as closed: Xlib would otherwise end the
 * process at once, before the trace is written out.
 */
#include "window.h"

#include "../display/osd.h"
#include "host.h"

#ifndef TAPEMU_WINDOW
#define TAPEMU_WINDOW 0
#endif

#if TAPEMU_WINDOW

#include <X11/Xlib.h>

#include <SDL.h>
#include <SDL_syswm.h>
#include <stdio.h>
#include <string.h>

/* A PC key and the script's name of the remote key it sends. */
struct WindowKey {
    SDL_Keycode key;
    const char *name;
};

static const WindowKey windowKeys[] = {
    {SDLK_RETURN, "OK"},     {SDLK_KP_ENTER, "OK"},   {SDLK_ESCAPE, "EXIT"},  {SDLK_LEFT, "LEFT"},
    {SDLK_UP, "BACK"},       {SDLK_RIGHT, "RIGHT"},   {SDLK_DOWN, "FORWARD"}, {SDLK_SPACE, "IDLE"},
    {SDLK_0, "DIGIT_0"},     {SDLK_1, "DIGIT_1"},     {SDLK_2, "DIGIT_2"},    {SDLK_3, "DIGIT_3"},
    {SDLK_4, "DIGIT_4"},     {SDLK_5, "DIGIT_5"},     {SDLK_6, "DIGIT_6"},    {SDLK_7, "DIGIT_7"},
    {SDLK_8, "DIGIT_8"},     {SDLK_9, "DIGIT_9"},     {SDLK_KP_0, "DIGIT_0"}, {SDLK_KP_1, "DIGIT_1"},
    {SDLK_KP_2, "DIGIT_2"},  {SDLK_KP_3, "DIGIT_3"},  {SDLK_KP_4, "DIGIT_4"}, {SDLK_KP_5, "DIGIT_5"},
    {SDLK_KP_6, "DIGIT_6"},  {SDLK_KP_7, "DIGIT_7"},  {SDLK_KP_8, "DIGIT_8"}, {SDLK_KP_9, "DIGIT_9"},
};

/* The open window, null when there is none. */
static SDL_Window *window = nullptr;
/* Its pixels per screen pixel. */
static int windowScale = 1;
/* The window's picture, scaled, as SDL_PIXELFORMAT_RGB888. */
static std::vector<uint32_t> picture;
/* The X11 window beneath it (0 elsewhere), and whether it has gone from
 * under tapemu. */
static unsigned long x11Window = 0;
static bool windowLost = false;
/* The display connection is gone: SDL must not touch it any more (it
 * would wait for ever for an answer). */
static bool connectionLost = false;

/* No X error ends tapemu; one about its window means the window is gone. */
static int onX11Error(Display *, XErrorEvent *error) {
    if (x11Window && error->resourceid == x11Window) windowLost = true;
    return 0;
}

/* The display connection is lost: the window is gone, tapemu goes on. */
static int onX11ConnectionLost(Display *) {
    windowLost = connectionLost = true;
    return 0;
}
static void onX11ConnectionExit(Display *, void *) { windowLost = connectionLost = true; }

bool windowAvailable(void) { return true; }

/* Copies the picture onto the window. */
static void present(void) {
    if (connectionLost) return;
    SDL_Surface *surface = SDL_GetWindowSurface(window);
    if (!surface) return;
    int width = OSD_SCREEN_WIDTH * windowScale, height = OSD_SCREEN_HEIGHT * windowScale;
    if (surface->w < width) width = surface->w;
    if (surface->h < height) height = surface->h;
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
    SDL_ConvertPixels(width, height, SDL_PIXELFORMAT_RGB888, picture.data(),
                      OSD_SCREEN_WIDTH * windowScale * 4, surface->format->format, surface->pixels, surface->pitch);
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
    SDL_UpdateWindowSurface(window);
}

bool windowOpen(const std::string &title, int scale, std::string &reason) {
    if (window) windowClose();
    // Ctrl-C in the terminal still ends tapemu at once, as without a window
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // the display system's own window surface, not a texture of a renderer
    // (which would make SDL create the window anew for OpenGL)
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // before SDL's own handler, which hands every error on to the one before it
    XSetErrorHandler(onX11Error);
    XSetIOErrorHandler(onX11ConnectionLost);
    windowLost = connectionLost = false;
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        reason = std::string("cannot open the window: ") + SDL_GetError();
        return false;
    }
    windowScale = scale < 1 ? 1 : scale > WINDOW_MAX_SCALE ? WINDOW_MAX_SCALE : scale;
    window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                              OSD_SCREEN_WIDTH * windowScale, OSD_SCREEN_HEIGHT * windowScale, SDL_WINDOW_SHOWN);
    if (!window) {
        reason = std::string("cannot open the window: ") + SDL_GetError();
        SDL_Quit();
        return false;
    }
    picture.assign((size_t)OSD_SCREEN_WIDTH * windowScale * OSD_SCREEN_HEIGHT * windowScale, 0);
    present();
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11) {
        x11Window = info.info.x11.window;
        XSetIOErrorExitHandler(info.info.x11.display, onX11ConnectionExit, nullptr);
        SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);  // to see the window destroyed
    }
    return true;
}

void windowShow(const uint32_t *screen) {
    if (!window) return;
    size_t width = (size_t)OSD_SCREEN_WIDTH * windowScale;
    for (int y = 0; y < OSD_SCREEN_HEIGHT; y++) {
        uint32_t *row = picture.data() + (size_t)y * windowScale * width;
        const uint32_t *source = screen + (size_t)y * OSD_SCREEN_WIDTH;
        for (int x = 0; x < OSD_SCREEN_WIDTH; x++)
            for (int i = 0; i < windowScale; i++) row[x * windowScale + i] = source[x] & 0xFFFFFF;
        for (int i = 1; i < windowScale; i++) memcpy(row + i * width, row, width * 4);
    }
    present();
}

/* The code that a pressed key sends; false for a key that sends none. */
static bool keyCode(const SDL_KeyboardEvent &key, long *code) {
    if (key.repeat || (key.keysym.mod & (KMOD_CTRL | KMOD_ALT | KMOD_GUI))) return false;
    for (const WindowKey &k : windowKeys)
        if (k.key == key.keysym.sym) return hostKeyCode(k.name, code);
    return false;
}

bool windowEvents(std::vector<long> &keys) {
    if (!window) return false;
    SDL_Event event;
    bool closed = false, redraw = false;
    while (SDL_PollEvent(&event)) {
        long code;
        if (event.type == SDL_QUIT) {
            closed = true;
        } else if (event.type == SDL_WINDOWEVENT) {
            if (event.window.event == SDL_WINDOWEVENT_CLOSE) closed = true;
            if (event.window.event == SDL_WINDOWEVENT_EXPOSED || event.window.event == SDL_WINDOWEVENT_SHOWN ||
                event.window.event == SDL_WINDOWEVENT_RESTORED || event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                redraw = true;
        } else if (event.type == SDL_KEYDOWN && !closed && keyCode(event.key, &code)) {
            keys.push_back(code);
        } else if (event.type == SDL_SYSWMEVENT && event.syswm.msg->subsystem == SDL_SYSWM_X11) {
            const XEvent &x = event.syswm.msg->msg.x11.event;
            if (x.type == DestroyNotify && x.xdestroywindow.window == x11Window) windowLost = true;
        }
    }
    if (windowLost && !closed) {
        fputs("tapemu: the window was destroyed or lost its display; the run ends as when it is closed\n", stderr);
        closed = true;
    }
    if (closed) {
        windowClose();
        return false;
    }
    if (redraw) present();
    return true;
}

void windowClose(void) {
    if (!window) return;
    if (!connectionLost) SDL_DestroyWindow(window);
    window = nullptr;
    x11Window = 0;
    picture.clear();
    picture.shrink_to_fit();
    if (!connectionLost) SDL_Quit();
}

std::string windowKeyMap(void) {
    static const struct {
        const char *keys, *name, *note;
    } rows[] = {
        {"Enter, keypad Enter", "OK", ""},  {"Escape", "EXIT", ""},
        {"Left", "LEFT", "a back key"},     {"Up", "BACK", "a back key"},
        {"Right", "RIGHT", "a forward key"}, {"Down", "FORWARD", "a forward key"},
    };
    std::string text = "tapemu: the window's keys send the remote's (names and codes as in --keys):\n";
    char line[160];
    for (const auto &row : rows) {
        long code = 0;
        hostKeyCode(row.name, &code);
        snprintf(line, sizeof line, "  %-22s %-8s 0x%lX%s%s%s\n", row.keys, row.name, code, *row.note ? "  (" : "",
                 row.note, *row.note ? ")" : "");
        text += line;
    }
    long first = 0, last = 0;
    hostKeyCode("DIGIT_0", &first);
    hostKeyCode("DIGIT_9", &last);
    snprintf(line, sizeof line, "  %-22s %s  0x%lX to 0x%lX (the remote's digits)\n", "0 to 9, keypad 0 to 9",
             "DIGIT_0 to DIGIT_9", first, last);
    text += line;
    text += "  Space                  IDLE     an idle event, no key\n"
            "  closing the window ends the run as the end of a key script does\n";
    return text;
}

#else

bool windowAvailable(void) { return false; }

bool windowOpen(const std::string &, int, std::string &reason) {
    reason = "--window opens a window in the PC build only: this build of tapemu has no SDL2";
    return false;
}

void windowShow(const uint32_t *) {}
bool windowEvents(std::vector<long> &) { return false; }
void windowClose(void) {}
std::string windowKeyMap(void) { return ""; }

#endif
