/*
 * The tapemu command line: starts a receiver on a disk folder, loads the
 * TAPs, plays a key script and leaves the trace, the console capture and
 * the screens in the output folder.  tapemu as the user starts it is the
 * host side, which runs the receiver (the firmware and every TAP) in the
 * sandbox: tapemu again, with --receiver-side, taking the key script
 * through the channel.  --no-sandbox plays the receiver in this process;
 * with --window it too runs the receiver side as a process of its own,
 * only without the sandbox, so that the window's libraries never meet the
 * firmware's interposed libc calls or its state.  Builds on every other
 * room.
 */
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../base/base.h"
#include "../base/channel.h"
#include "../host/host.h"
#include "../platform/platform.h"
#include "../host/window.h"
#include "../receiver/receiver.h"
#include "../tapemu.h"

#ifndef TAPEMU_PICTURES
#define TAPEMU_PICTURES 0
#endif

static const int EXIT_USAGE = 2;
static const int EXIT_RUN = 1;
static const int IDLE_KEY = HOST_IDLE;  // a non-key event in the script
static const int IDLE_AFTER_SCRIPT = 3;

static void usage(void) {
    fputs("usage: tapemu --disk DIR --out DIR [--keys \"OK EXIT 0x10012 ...\"] [--language N]\n"
          "              [--time \"YYYY-MM-DD HH:MM:SS\"] [--utf8-firmware] [--pts N|none]\n"
          "              [--autostart] [--trace-all] [--no-pictures] [--chdir-status OK,FAIL]\n"
          "              [--cwd-form plain|slash] [--no-sandbox] [--window [--scale N]]\n"
          "              [--fail CALL:ERRNO[@N]] [--disk-full BYTES] [--short-write N]\n"
          "              [--read-only PATH] [--heap-blocks N] [--trace-calls] TAP...\n"
          "       tapemu --sandbox-check\n",
          stderr);
}

static int fail(int status, const std::string &reason) {
    fprintf(stderr, "tapemu: %s\n", reason.c_str());
    return status;
}

/* One key of the script: a name or a number (0x.. hex, else decimal). */
static bool parseKey(const std::string &word, long *code) {
    if (hostKeyCode(word, code)) return true;
    char *end = nullptr;
    unsigned long v = strtoul(word.c_str(), &end, 0);
    if (word.empty() || *end || word[0] == '-' || v > 0xFFFFFFFFul) return false;
    *code = (long)v;
    return true;
}

static bool parseInt(const char *text, int *value) {
    char *end = nullptr;
    long v = strtol(text, &end, 0);
    if (!*text || *end || v < -1000000 || v > 1000000) return false;
    *value = (int)v;
    return true;
}

static std::vector<std::string> autostartTaps(const std::string &disk) {
    std::vector<std::string> names;
    std::string folder = disk + "/ProgramFiles/AutoStart";
    DIR *dir = opendir(folder.c_str());
    if (!dir) return names;
    while (struct dirent64 *e = readdir64(dir)) {
        std::string name = e->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tap") == 0) names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (std::string &n : names) n = "/ProgramFiles/AutoStart/" + n;
    return names;
}

/* Where the events after the first idle one come from: the script in
 * this process, or the host side's commands on the receiver side. */
struct Script {
    const std::vector<long> *keys;  // null: the channel
    size_t next;
};

static bool nextEvent(Script &script, long *code) {
    if (script.keys) {
        if (script.next >= script.keys->size()) return false;
        *code = (*script.keys)[script.next++];
        return true;
    }
    uint32_t key = 0;
    int kind = channelCommand(&key);
    *code = kind == CHANNEL_KEY ? (long)key : IDLE_KEY;
    return kind != CHANNEL_END;
}

/* Loads the TAPs (the AutoStart folder's first when asked), then delivers
 * an idle event, the script's events and the closing idle events to the
 * running receiver.  Returns 0, or EXIT_RUN with the reason on stderr
 * when a named TAP cannot be loaded. */
static int play(const std::vector<std::string> &taps, bool autostart, const std::string &disk, Script &script) {
    char err[512] = "";
    if (autostart)
        for (const std::string &tap : autostartTaps(disk))
            if (emuLoadTap(tap.c_str(), err, sizeof err) < 0) fprintf(stderr, "tapemu: %s (skipped)\n", err);
    for (const std::string &tap : taps)
        if (emuLoadTap(tap.c_str(), err, sizeof err) < 0) return fail(EXIT_RUN, err);
    emuBroadcast(EVT_IDLE, 0, 0);
    long code;
    while (nextEvent(script, &code)) {
        if (code == IDLE_KEY)
            emuBroadcast(EVT_IDLE, 0, 0);
        else
            emuBroadcast(EVT_KEY, (dword)code, 0);
    }
    for (int i = 0; i < IDLE_AFTER_SCRIPT; i++) emuBroadcast(EVT_IDLE, 0, 0);
    return 0;
}

/* Whether this process is confined as tapemu's sandbox confines it: no
 * new privileges and a seccomp filter.  Without them the receiver side
 * would turn off tapemu's own checks with nothing in their place. */
static bool inTheSandbox(void) {
    FILE *f = fopen("/proc/self/status", "r");
    if (!f) return false;
    bool noNewPrivileges = false, filtered = false;
    char line[256];
    while (fgets(line, sizeof line, f)) {
        if (strcmp(line, "NoNewPrivs:\t1\n") == 0) noNewPrivileges = true;
        if (strcmp(line, "Seccomp:\t2\n") == 0) filtered = true;
    }
    fclose(f);
    return noNewPrivileges && filtered;
}

/* The receiver side: the channel's descriptors as "EVENTS:COMMANDS:RING".
 * In the sandbox the kernel confines it; unconfined (the host side's
 * --no-sandbox --window) it plays the receiver as --no-sandbox does, on
 * the disk and output folders given, writing trace.txt and console.bin
 * itself, and takes only its events from the channel and sends its
 * screens there. */
static int receiverSide(const std::string &channel, bool check, bool unconfined, EmuOptions &options,
                        const std::vector<std::string> &taps, bool autostart) {
    int events = -1, commands = -1, ring = -1;
    char extra;
    if (sscanf(channel.c_str(), "%d:%d:%d%c", &events, &commands, &ring, &extra) != 3 ||
        (!unconfined && !inTheSandbox()) || !channelOpen(events, commands, ring))
        return fail(EXIT_USAGE, "--receiver-side is tapemu's own: its host side starts it in the sandbox");
    if (!channelHello()) return EXIT_RUN;
    if (check) return channelDone() ? 0 : EXIT_RUN;
    setvbuf(stdout, nullptr, _IOLBF, 0);  // as on a terminal, in step with the shell's output
    char err[512] = "";
    if (!(unconfined ? emuStart(&options, err, sizeof err) : emuStartConfined(&options, err, sizeof err))) {
        fail(EXIT_RUN, err);
        channelDone();
        return EXIT_RUN;
    }
    Script script = {nullptr, 0};
    int status = play(taps, autostart, unconfined ? options.disk : EMU_MOUNT, script);
    emuStop();
    channelDone();
    return status;
}

static void warnUnconfined(void) {
    fputs("tapemu: warning: --no-sandbox: the TAPs run unconfined, with only tapemu's own checks of libc's "
          "path calls between them and your files\n",
          stderr);
}

/* The receiver's options as the receiver side's command line gives them;
 * faults: the fault options as they came. */
static std::vector<std::string> receiverOptions(const EmuOptions &o, bool autostart,
                                                const std::vector<std::string> &faults) {
    std::vector<std::string> args = {"--language", std::to_string(o.language), "--pts",
                                     o.firstPts < 0 ? "none" : std::to_string(o.firstPts)};
    if (o.fixedTime) {
        char when[64];
        snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", o.year, o.month, o.day, o.hour, o.minute,
                 o.second);
        args.insert(args.end(), {"--time", when});
    }
    args.insert(args.end(), {"--chdir-status", std::to_string(o.chdirOk) + "," + std::to_string(o.chdirFail)});
    args.insert(args.end(), {"--cwd-form", o.cwdSlash ? "slash" : "plain"});
    if (o.utf8Firmware) args.push_back("--utf8-firmware");
    if (o.traceAll) args.push_back("--trace-all");
    if (!o.pictures) args.push_back("--no-pictures");
    if (autostart) args.push_back("--autostart");
    if (o.traceCalls) args.push_back("--trace-calls");
    args.insert(args.end(), faults.begin(), faults.end());
    return args;
}

int tapemuMain(int argc, char **argv) {
    EmuOptions options;
    emuDefaultOptions(&options);
    options.pictures = TAPEMU_PICTURES;
    std::string disk, out, keys, channel;
    bool autostart = false, noSandbox = false, sandboxCheck = false, check = false, unconfined = false;
    bool window = false;
    int scale = 0;  // 0: not given
    std::vector<std::string> taps;
    std::vector<std::string> faults;  // option and value, in turn

    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        const char *value = hasValue ? argv[i + 1] : nullptr;
        if (a == "--disk" || a == "--out" || a == "--keys" || a == "--language" || a == "--time" || a == "--pts" ||
            a == "--chdir-status" || a == "--cwd-form" || a == "--receiver-side" || a == "--scale" ||
            faultsIsOption(a)) {
            if (!hasValue) return fail(EXIT_USAGE, "option " + a + " needs a value");
            i++;
        }
        if (a == "--disk") {
            disk = value;
        } else if (a == "--out") {
            out = value;
        } else if (a == "--keys") {
            keys += std::string(" ") + value;
        } else if (a == "--language") {
            if (!parseInt(value, &options.language)) return fail(EXIT_USAGE, "bad language " + std::string(value));
        } else if (a == "--time") {
            int n = 0;
            if (sscanf(value, "%d-%d-%d %d:%d:%d%n", &options.year, &options.month, &options.day, &options.hour,
                       &options.minute, &options.second, &n) != 6 ||
                value[n] || options.month < 1 || options.month > 12 || options.day < 1 || options.day > 31 ||
                options.hour < 0 || options.hour > 23 || options.minute < 0 || options.minute > 59 ||
                options.second < 0 || options.second > 59 || options.year < 1858 || options.year > 2037)
                return fail(EXIT_USAGE, "bad time " + std::string(value) + " (wanted \"YYYY-MM-DD HH:MM:SS\")");
            options.fixedTime = 1;
        } else if (a == "--pts") {
            if (std::string(value) == "none")
                options.firstPts = -1;
            else if (!parseInt(value, &options.firstPts) || options.firstPts < 0)
                return fail(EXIT_USAGE, "bad pseudo-terminal " + std::string(value));
        } else if (a == "--chdir-status") {
            std::string v = value;
            size_t comma = v.find(',');
            if (comma == std::string::npos || !parseInt(v.substr(0, comma).c_str(), &options.chdirOk) ||
                !parseInt(v.substr(comma + 1).c_str(), &options.chdirFail) || options.chdirOk == options.chdirFail)
                return fail(EXIT_USAGE, "bad chdir status " + v + " (wanted two different numbers OK,FAIL)");
        } else if (a == "--cwd-form") {
            if (std::string(value) != "plain" && std::string(value) != "slash")
                return fail(EXIT_USAGE, "bad working-directory form " + std::string(value) + " (plain or slash)");
            options.cwdSlash = std::string(value) == "slash";
        } else if (faultsIsOption(a)) {
            std::string reason;
            if (!faultsCheckOption(a, value, reason)) return fail(EXIT_USAGE, reason);
            faults.insert(faults.end(), {a, value});
        } else if (a == "--trace-calls") {
            options.traceCalls = 1;
        } else if (a == "--utf8-firmware") {
            options.utf8Firmware = 1;
        } else if (a == "--autostart") {
            autostart = true;
        } else if (a == "--trace-all") {
            options.traceAll = 1;
        } else if (a == "--no-pictures") {
            options.pictures = 0;
        } else if (a == "--no-sandbox") {
            noSandbox = true;
        } else if (a == "--sandbox-check") {
            sandboxCheck = true;
        } else if (a == "--receiver-side") {
            channel = value;
        } else if (a == "--check" && !channel.empty()) {
            check = true;
        } else if (a == "--unconfined" && !channel.empty()) {
            unconfined = true;
        } else if (a == "--window") {
            window = true;
        } else if (a == "--scale") {
            if (!parseInt(value, &scale) || scale < 1 || scale > WINDOW_MAX_SCALE)
                return fail(EXIT_USAGE, "bad scale " + std::string(value) + " (wanted 1 to " +
                                            std::to_string(WINDOW_MAX_SCALE) + ")");
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a.size() > 1 && a[0] == '-') {
            return fail(EXIT_USAGE, "unknown option " + a + " (see --help)");
        } else {
            taps.push_back(a);
        }
    }
    std::vector<const char *> faultWords;
    for (const std::string &w : faults) faultWords.push_back(w.c_str());
    faultWords.push_back(nullptr);
    options.faults = faultWords.data();
    if (!channel.empty()) {
        options.disk = disk.c_str();
        options.out = out.c_str();
        return receiverSide(channel, check, unconfined, options, taps, autostart);
    }
    if (sandboxCheck) return hostSandboxCheck();
    if (scale && !window) return fail(EXIT_USAGE, "--scale is the window's: it needs --window");
    if (window && !windowAvailable())
        return fail(EXIT_USAGE, "--window opens a window in the PC build of tapemu only (build/host/tapemu): "
                                "this receiver build has no SDL2");
    const char *x11 = getenv("DISPLAY"), *wayland = getenv("WAYLAND_DISPLAY");
    if (window && !(x11 && *x11) && !(wayland && *wayland))
        return fail(EXIT_RUN, "--window needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set");
    if (argc <= 1) {
        usage();
        return EXIT_USAGE;
    }
    if (disk.empty() || out.empty()) return fail(EXIT_USAGE, "--disk and --out are required (see --help)");
    if (taps.empty() && !autostart) return fail(EXIT_USAGE, "no TAP given (see --help)");

    std::vector<long> script;
    size_t at = 0;
    while (at < keys.size()) {
        size_t start = keys.find_first_not_of(" \t,", at);
        if (start == std::string::npos) break;
        size_t end = keys.find_first_of(" \t,", start);
        if (end == std::string::npos) end = keys.size();
        std::string word = keys.substr(start, end - start);
        long code;
        if (!parseKey(word, &code)) return fail(EXIT_USAGE, "unknown key " + word);
        script.push_back(code);
        at = end;
    }
    if (!noSandbox || window) {
        if (noSandbox) {
            std::string reason;
            if (!hostFolders(disk, out, reason)) return fail(EXIT_RUN, reason);
            warnUnconfined();
        }
        HostRun run;
        run.disk = disk, run.out = out, run.taps = taps, run.keys = script;
        run.pictures = options.pictures != 0;
        // the window shows every synced screen, with or without the PNGs
        if (window) options.pictures = 1;
        run.receiverOptions = receiverOptions(options, autostart, faults);
        run.pts = options.firstPts;
        run.window = window;
        run.scale = scale ? scale : 1;
        run.unconfined = noSandbox;
        return hostRun(run);
    }

    std::string reason;
    if (!hostFolders(disk, out, reason)) return fail(EXIT_RUN, reason);
    warnUnconfined();
    options.disk = disk.c_str();
    options.out = out.c_str();
    char err[512] = "";
    if (!emuStart(&options, err, sizeof err)) return fail(EXIT_RUN, err);
    Script inProcess = {&script, 0};
    int status = play(taps, autostart, disk, inProcess);
    int screens = emuPictureCount();
    emuStop();
    if (status != 0) return status;
    printf("tapemu: ran %zu key(s); trace in %s/trace.txt, console in %s/console.bin", script.size(), out.c_str(),
           out.c_str());
    if (screens) printf(", %d screen(s) as %s/screen-NNNN.png", screens, out.c_str());
    printf("\n");
    return 0;
}
