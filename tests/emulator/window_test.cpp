// tapemu --window as a user meets it: on a private X server (Xvfb) the
// installer runs in the window, a key script first and then keys typed
// into the window with xdotool (XTEST key events to the focused window);
// screenshots of the window (xwd) match the PNG that tapemu wrote for the
// same TAP_Osd_Sync pixel for pixel; keys typed while the installation
// holds the receiver reach the installer afterwards, in order; closing the
// window (the WM_DELETE_WINDOW message that a window manager sends) ends
// tapemu with status 0 and the usual closing summary.  And what --window
// refuses, in one line.  The receiver build has no window: there only the
// refusals run.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "emutest.h"

#if TAPEMU_WINDOW
#include <X11/Xlib.h>
#include <png.h>
#endif

namespace {

// ---- What --window refuses ---------------------------------------------

struct Refusal {
    const char *what;
    std::vector<std::string> args;  // DISK and OUT stand for the folders
    bool display;                   // DISPLAY set (to a server that need not exist)
    int status;
    const char *line;               // the one line on stderr
};

void PrintTo(const Refusal &c, std::ostream *o) { *o << c.what; }

class WindowRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(WindowRefuses, WithOneLineAndNothingRun) {
    const Refusal &c = GetParam();
    std::string f = testFolder();
    std::vector<std::string> args;
    for (std::string a : c.args) args.push_back(a == "DISK" ? f + "/disk" : a == "OUT" ? f + "/out" : a);
    args.push_back(INSTALLER_TAP);
    TapemuResult r = runTapemu(f, args, [&c] {
        unsetenv("WAYLAND_DISPLAY");
        if (c.display)
            setenv("DISPLAY", ":99", 1);
        else
            unsetenv("DISPLAY");
    });
    ASSERT_NE(-1, r.status) << c.what;
    EXPECT_EQ(c.status, r.status) << c.what;
    EXPECT_EQ(std::vector<std::string>{std::string("tapemu: ") + c.line}, lines(r.err)) << c.what;
    EXPECT_FALSE(fileExists(f + "/out")) << c.what;
    EXPECT_FALSE(fileExists(f + "/disk/ProgramFiles/Zephyrdesk-Install.tap")) << c.what;
}

std::vector<Refusal> refusals() {
    std::vector<Refusal> cases = {
        {"a scale without a window", {"--disk", "DISK", "--out", "OUT", "--scale", "2"}, true, 2,
         "--scale is the window's: it needs --window"},
    };
    if (TAPEMU_WINDOW) {
        cases.push_back({"no display", {"--window", "--disk", "DISK", "--out", "OUT"}, false, 1,
                         "--window needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set"});
        cases.push_back({"no display without the sandbox", {"--window", "--no-sandbox", "--disk", "DISK", "--out", "OUT"},
                         false, 1, "--window needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set"});
        cases.push_back({"a scale of 0", {"--window", "--scale", "0", "--disk", "DISK", "--out", "OUT"}, true, 2,
                         "bad scale 0 (wanted 1 to 8)"});
        cases.push_back({"a scale of 9", {"--window", "--scale", "9", "--disk", "DISK", "--out", "OUT"}, true, 2,
                         "bad scale 9 (wanted 1 to 8)"});
    } else {
        cases.push_back({"the receiver build", {"--window", "--disk", "DISK", "--out", "OUT"}, true, 2,
                         "--window opens a window in the PC build of tapemu only (build/host/tapemu): this "
                         "receiver build has no SDL2"});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowRefuses, ::testing::ValuesIn(refusals()));

// ---- The installer played live under Xvfb ------------------------------

#if TAPEMU_WINDOW

// For any one condition: generous on a busy machine, and short enough that
// a test that fails one does so within ctest's time.
const int kWaitSeconds = 45;

double now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// A program's standard output; *status its exit status (-1: none).
std::string capture(const std::vector<std::string> &args, const std::string &display, int *status = nullptr) {
    int out[2];
    if (pipe(out) != 0) return "";
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        setenv("DISPLAY", display.c_str(), 1);
        std::vector<char *> argv;
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, (size_t)n);
    close(out[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return text;
}

// A private X server on a display number of its own choosing.
struct XServer {
    pid_t pid = -1;
    std::string display;  // ":N", empty when it did not start

    bool start() {
        int fds[2];
        if (pipe(fds) != 0) return false;
        fflush(nullptr);
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1280x24", "-nolisten", "tcp",
                   "-noreset", (char *)nullptr);
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        struct pollfd p = {fds[0], POLLIN, 0};
        double until = now() + kWaitSeconds;
        while (now() < until && poll(&p, 1, 1000) >= 0) {
            char c;
            if (p.revents == 0) continue;
            if (read(fds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        close(fds[0]);
        if (!number.empty()) display = ":" + number;
        return !display.empty();
    }

    ~XServer() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

// tapemu as a program of its own on the X server.
struct Tapemu {
    pid_t pid = -1;
    int status = -1;  // once it has ended: its exit status, 128 + N for signal N
    bool ended = false;

    void start(const std::vector<std::string> &args, const std::string &display, const std::string &folder) {
        fflush(nullptr);
        pid = fork();
        if (pid == 0) {
            dup2(open((folder + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            dup2(open((folder + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            setenv("DISPLAY", display.c_str(), 1);
            unsetenv("WAYLAND_DISPLAY");
            std::vector<char *> argv = {const_cast<char *>(TAPEMU_PROGRAM)};
            for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(TAPEMU_PROGRAM, argv.data());
            _exit(127);
        }
    }

    // Whether it has ended (without waiting).
    bool poll() {
        if (ended || pid <= 0) return true;
        int st = 0;
        if (waitpid(pid, &st, WNOHANG) != pid) return false;
        ended = true;
        status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return true;
    }

    ~Tapemu() {
        if (pid > 0 && !poll()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

// An image as rows of 0xRRGGBB.
struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[(size_t)y * width + x]; }
};

// A PNG file as libpng reads it; false while it cannot be read whole.
bool readPng(const std::string &path, Image &image) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(f);
        return false;
    }
    std::vector<png_byte> rows;
    std::vector<png_bytep> pointers;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    int width = (int)png_get_image_width(png, info), height = (int)png_get_image_height(png, info);
    size_t stride = png_get_rowbytes(png, info);
    rows.resize(stride * height);
    for (int y = 0; y < height; y++) pointers.push_back(rows.data() + stride * y);
    png_read_image(png, pointers.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    image.width = width, image.height = height;
    image.pixels.resize((size_t)width * height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            const png_byte *p = pointers[y] + 3 * x;
            image.pixels[(size_t)y * width + x] = (uint32_t)p[0] << 16 | p[1] << 8 | p[2];
        }
    return true;
}

uint32_t bigEndian(const std::string &bytes, size_t at) {
    const unsigned char *p = (const unsigned char *)bytes.data() + at;
    return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// The colour of a masked pixel value as 8 bits.
unsigned channel(uint32_t value, uint32_t mask) {
    if (!mask) return 0;
    int shift = 0;
    while (!(mask >> shift & 1)) shift++;
    uint32_t top = mask >> shift;
    return (unsigned)(((value & mask) >> shift) * 255 / top);
}

// An XWD file as xwd writes it (a big-endian header of 25 numbers, the
// window's name, the colour map, then the Z pixmap); false with *why.
bool readXwd(const std::string &bytes, Image &image, std::string *why) {
    if (bytes.size() < 100) return *why = "an XWD file of " + std::to_string(bytes.size()) + " bytes", false;
    uint32_t headerSize = bigEndian(bytes, 0), version = bigEndian(bytes, 4), format = bigEndian(bytes, 8);
    uint32_t width = bigEndian(bytes, 16), height = bigEndian(bytes, 20), byteOrder = bigEndian(bytes, 28);
    uint32_t bitsPerPixel = bigEndian(bytes, 44), bytesPerLine = bigEndian(bytes, 48);
    uint32_t red = bigEndian(bytes, 56), green = bigEndian(bytes, 60), blue = bigEndian(bytes, 64);
    uint32_t colours = bigEndian(bytes, 76);
    if (version != 7 || format != 2 || (bitsPerPixel != 32 && bitsPerPixel != 24))
        return *why = "an XWD file of version " + std::to_string(version) + ", format " + std::to_string(format) +
                      ", " + std::to_string(bitsPerPixel) + " bits per pixel",
               false;
    size_t data = (size_t)headerSize + (size_t)colours * 12;
    if (bytes.size() < data + (size_t)bytesPerLine * height) return *why = "a short XWD file", false;
    image.width = (int)width, image.height = (int)height;
    image.pixels.resize((size_t)width * height);
    size_t step = bitsPerPixel / 8;
    for (uint32_t y = 0; y < height; y++)
        for (uint32_t x = 0; x < width; x++) {
            const unsigned char *p = (const unsigned char *)bytes.data() + data + (size_t)y * bytesPerLine + x * step;
            uint32_t v = 0;
            for (size_t i = 0; i < step; i++) v |= (uint32_t)p[byteOrder == 0 ? i : step - 1 - i] << (8 * i);
            image.pixels[(size_t)y * width + x] = channel(v, red) << 16 | channel(v, green) << 8 | channel(v, blue);
        }
    return true;
}

// A private X server, a test folder and tapemu's window on them.
class LiveWindow : public ::testing::Test {
protected:
    // Starts the X server; skipped where the sandbox is wanted and cannot
    // be made.
    void startServer(bool sandbox) {
        std::string why;
        if (sandbox && !sandboxWorks(&why)) GTEST_SKIP() << why;
        folder = testFolder();
        ASSERT_TRUE(x.start()) << "Xvfb did not start (apt-get install xvfb)";
    }

    // Starts tapemu --window with the arguments and the TAP and waits for
    // its window.
    void startTapemu(std::vector<std::string> args, const std::string &tap) {
        std::vector<std::string> all = {"--window", "--scale", std::to_string(scale), "--disk", folder + "/disk",
                                        "--out", folder + "/out", "--time", "2016-02-29 13:05:09"};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back(tap);
        tapemu.start(all, x.display, folder);
        std::string title = "^tapemu: " + tap.substr(tap.rfind('/') + 1) + "$";
        ASSERT_TRUE(waitFor([&] {
            window = xdotool({"search", "--onlyvisible", "--name", title});
            window = window.substr(0, window.find('\n'));
            return !window.empty();
        })) << "no window; stderr: " << readFile(folder + "/stderr.txt");
    }

    // Polls until the condition holds; false after kWaitSeconds or once
    // tapemu has ended (unless it is the end that is awaited).
    bool waitFor(const std::function<bool()> &condition, bool endAllowed = false) {
        double until = now() + kWaitSeconds;
        while (now() < until) {
            if (condition()) return true;
            if (!endAllowed && tapemu.poll()) return condition();
            usleep(50 * 1000);
        }
        return false;
    }

    std::vector<std::string> trace() const { return lines(readFile(folder + "/out/trace.txt")); }

    // The EVENT lines of the trace without their results.
    std::vector<std::string> events() const {
        std::vector<std::string> found;
        for (const std::string &line : trace())
            if (line.rfind("EVENT ", 0) == 0) found.push_back(line.substr(0, line.find(" ->")));
        return found;
    }

    size_t syncs() const {
        size_t n = 0;
        for (const std::string &line : trace()) n += line == "TAP_Osd_Sync -> 0";
        return n;
    }

    std::string xdotool(std::vector<std::string> args, int *status = nullptr) {
        args.insert(args.begin(), "xdotool");
        return capture(args, x.display, status);
    }

    // Types one key into the window and waits for its event in the trace.
    void press(const char *key, size_t eventsAfter) {
        xdotool({"windowfocus", "--sync", window});
        int status = -1;
        xdotool({"key", key}, &status);
        ASSERT_EQ(0, status) << "xdotool key " << key;
        ASSERT_TRUE(waitFor([&] { return events().size() >= eventsAfter; }))
            << "the key " << key << " did not reach the installer; events: " << events().size();
    }

    // Waits until the window shows the PNG of the last sync in the trace,
    // every screen pixel as scale x scale window pixels.
    void windowShowsLastScreen(const char *what) {
        std::string mismatch = "no screenshot taken";
        std::string shot = folder + "/window.xwd";
        bool same = waitFor([&] {
            char name[32];
            snprintf(name, sizeof name, "/out/screen-%04zu.png", syncs());
            Image png, xwd;
            if (!readPng(folder + name, png)) return mismatch = std::string("cannot read ") + name, false;
            int status = -1;
            capture({"xwd", "-id", window, "-silent", "-out", shot}, x.display, &status);
            if (status != 0 || !readXwd(readFile(shot), xwd, &mismatch)) return false;
            if (xwd.width != png.width * scale || xwd.height != png.height * scale)
                return mismatch = "a window of " + std::to_string(xwd.width) + " x " + std::to_string(xwd.height) +
                                  " for " + name,
                       false;
            for (int y = 0; y < xwd.height; y++)
                for (int x = 0; x < xwd.width; x++)
                    if (xwd.at(x, y) != png.at(x / scale, y / scale)) {
                        char text[160];
                        snprintf(text, sizeof text, "window pixel (%d, %d) is 0x%06X, %s has 0x%06X", x, y,
                                 xwd.at(x, y), name, png.at(x / scale, y / scale));
                        mismatch = text;
                        return false;
                    }
            return true;
        });
        ASSERT_TRUE(same) << what << ": " << mismatch;
    }

    // What a window manager sends when the user closes the window.
    void closeWindow() {
        Display *display = XOpenDisplay(x.display.c_str());
        ASSERT_NE(nullptr, display);
        XEvent event = {};
        event.xclient.type = ClientMessage;
        event.xclient.window = (Window)strtoul(window.c_str(), nullptr, 10);
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
        XCloseDisplay(display);
    }

    XServer x;
    Tapemu tapemu;
    std::string folder, window;
    int scale = 1;
};

struct Mode {
    const char *name;
    bool sandbox;
    int scale;
};

void PrintTo(const Mode &m, std::ostream *o) { *o << m.name; }

class WindowPlays : public LiveWindow, public ::testing::WithParamInterface<Mode> {
protected:
    void SetUp() override {
        scale = GetParam().scale;
        startServer(GetParam().sandbox);
    }
};

TEST_P(WindowPlays, TheInstallerThroughTheKeyboardAndEndsWhenClosed) {
    const Mode &m = GetParam();
    std::vector<std::string> args = {"--keys", "FORWARD"};
    if (!m.sandbox) args.push_back("--no-sandbox");
    ASSERT_NO_FATAL_FAILURE(startTapemu(args, INSTALLER_TAP));

    // The script: the first idle event and FORWARD (English to German).
    ASSERT_TRUE(waitFor([&] { return events().size() >= 2; })) << readFile(folder + "/stderr.txt");
    ASSERT_NO_FATAL_FAILURE(windowShowsLastScreen("the language screen after the script"));
    ASSERT_NO_FATAL_FAILURE(press("Left", 3));  // back to English
    ASSERT_NO_FATAL_FAILURE(windowShowsLastScreen("the language screen after Left"));
    ASSERT_NO_FATAL_FAILURE(press("Return", 4));  // the target screen, Exit highlighted
    ASSERT_NO_FATAL_FAILURE(windowShowsLastScreen("the target screen"));
    ASSERT_NO_FATAL_FAILURE(press("Up", 5));  // "/ProgramFiles"
    ASSERT_NO_FATAL_FAILURE(windowShowsLastScreen("the target screen on /ProgramFiles"));
    // The installation holds the receiver for one event; the next two keys
    // are typed at once and wait for it.
    xdotool({"windowfocus", "--sync", window});
    xdotool({"key", "Return", "1", "space"});
    ASSERT_TRUE(waitFor([&] { return events().size() >= 8; })) << "events: " << events().size();
    ASSERT_NO_FATAL_FAILURE(windowShowsLastScreen("the finished installation"));
    ASSERT_NO_FATAL_FAILURE(press("Escape", 9));  // the installer ends
    ASSERT_NO_FATAL_FAILURE(windowShowsLastScreen("the last screen after the installer ended"));

    closeWindow();
    ASSERT_TRUE(waitFor([&] { return tapemu.poll(); }, true)) << "tapemu did not end when its window closed";
    EXPECT_EQ(0, tapemu.status) << readFile(folder + "/stderr.txt");

    std::vector<std::string> expected = {
        "EVENT 0 0x0 0x0 0x0",          // the first idle event
        "EVENT 0 0x100 0x10013 0x0",    // FORWARD from the script
        "EVENT 0 0x100 0x1000F 0x0",    // Left
        "EVENT 0 0x100 0x1001E 0x0",    // Enter
        "EVENT 0 0x100 0x10012 0x0",    // Up
        "EVENT 0 0x100 0x1001E 0x0",    // Enter: the installation
        "EVENT 0 0x100 0x10001 0x0",    // 1, typed during it
        "EVENT 0 0x0 0x0 0x0",          // Space, typed during it
        "EVENT 0 0x100 0x10017 0x0",    // Escape: the installer ends, no more events
    };
    EXPECT_EQ(expected, events());
    std::vector<std::string> all = trace();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(0u, all.back().rfind("SLOT 0 \"/ProgramFiles/Zephyrdesk-Install.tap\" id 0x", 0)) << all.back();
    EXPECT_NE(std::string::npos, all.back().find(" ended by TAP_Exit")) << all.back();
    EXPECT_EQ(readFile(std::string(PAYLOAD_TREE) + "/mnt/hd/ProgramFiles/Zephyrdesk.tap"),
              readFile(folder + "/disk/ProgramFiles/Zephyrdesk.tap"));
    EXPECT_FALSE(fileExists(folder + "/disk/ProgramFiles/AutoStart/Zephyrdesk.tap"));
    EXPECT_TRUE(fileExists(folder + "/disk/ProgramFiles/Settings/Logs/Zephyrdesk-Install.log"));

    std::vector<std::string> out = lines(readFile(folder + "/stdout.txt"));
    ASSERT_FALSE(out.empty());
    EXPECT_EQ("tapemu: the window's keys send the remote's (names and codes as in --keys):", out.front());
    EXPECT_EQ(0u, out.back().rfind("tapemu: ran 8 key(s); trace in ", 0)) << out.back();
    std::vector<std::string> err = lines(readFile(folder + "/stderr.txt"));
    if (!m.sandbox) {
        ASSERT_EQ(1u, err.size()) << readFile(folder + "/stderr.txt");
        EXPECT_NE(std::string::npos, err[0].find("warning: --no-sandbox")) << err[0];
    } else {
        EXPECT_TRUE(err.empty()) << readFile(folder + "/stderr.txt");
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, WindowPlays,
                         ::testing::ValuesIn(std::vector<Mode>{{"InTheSandbox", true, 1},
                                                               {"WithoutTheSandboxScaled", false, 2}}),
                         [](const ::testing::TestParamInfo<Mode> &info) { return std::string(info.param.name); });

// However the window goes, the run ends as at the end of a key script,
// with status 0 and the closing summary: closed by the window manager's
// message, destroyed by another program, or cut off from its display.
struct Closing {
    const char *name;
    const char *how;             // "WM_DELETE_WINDOW" or an xdotool command
    std::vector<std::string> err;  // tapemu's lines on stderr
};

void PrintTo(const Closing &c, std::ostream *o) { *o << c.name; }

class WindowCloses : public LiveWindow, public ::testing::WithParamInterface<Closing> {
protected:
    void SetUp() override { startServer(true); }
};

TEST_P(WindowCloses, AndTheRunEndsAsAtTheEndOfAScript) {
    const Closing &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(startTapemu({"--keys", "OK"}, INSTALLER_TAP));
    ASSERT_NO_FATAL_FAILURE(press("Right", 3));
    if (std::string(c.how) == "WM_DELETE_WINDOW") {
        closeWindow();
    } else {
        int status = -1;
        xdotool({c.how, window}, &status);
        ASSERT_EQ(0, status) << "xdotool " << c.how;
    }
    ASSERT_TRUE(waitFor([&] { return tapemu.poll(); }, true)) << c.name << ": tapemu did not end";
    EXPECT_EQ(0, tapemu.status) << c.name << ": " << readFile(folder + "/stderr.txt");
    EXPECT_EQ(c.err, lines(readFile(folder + "/stderr.txt"))) << c.name;
    std::vector<std::string> expected = {"EVENT 0 0x0 0x0 0x0", "EVENT 0 0x100 0x1001E 0x0",
                                         "EVENT 0 0x100 0x10011 0x0", "EVENT 0 0x0 0x0 0x0",
                                         "EVENT 0 0x0 0x0 0x0", "EVENT 0 0x0 0x0 0x0"};
    EXPECT_EQ(expected, events()) << c.name;
    std::vector<std::string> all = trace();
    ASSERT_FALSE(all.empty()) << c.name;
    EXPECT_NE(std::string::npos, all.back().find(" still running at the end")) << c.name << ": " << all.back();
}

const char *const kGone = "tapemu: the window was destroyed or lost its display; the run ends as when it is closed";

INSTANTIATE_TEST_SUITE_P(Ways, WindowCloses,
                         ::testing::ValuesIn(std::vector<Closing>{
                             {"ClosedByTheWindowManager", "WM_DELETE_WINDOW", {}},
                             {"DestroyedByAnotherProgram", "windowclose", {kGone}},
                             {"CutOffFromTheDisplay", "windowkill", {kGone}},
                         }),
                         [](const ::testing::TestParamInfo<Closing> &info) { return std::string(info.param.name); });

#endif

}  // namespace
