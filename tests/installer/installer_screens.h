// For the installer's tests: the firmware calls a TAP made, read back from
// the stand-in firmware's trace (quoted strings turned back into their
// bytes), and the calls that draw each page of the installer, built from
// the page layout and the texts the user sees.
#ifndef TESTS_INSTALLER_SCREENS_H
#define TESTS_INSTALLER_SCREENS_H

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace {
// The cases of a test table carry a name; gtest shows it for the case.
template <typename T, typename = decltype(T::name)>
std::ostream &operator<<(std::ostream &os, const T &testCase) {
    return os << testCase.name;
}
} // namespace

// One traced firmware call: "TAP_Osd_FillBox 1 0 0 720 576 0xFF101010 -> 0".
struct TracedCall {
    std::string name;
    std::vector<std::string> args; // strings without quotes, \xNN decoded
    std::string result;            // after "->", empty when none
    // name and arguments in one line, strings quoted as they stand
    std::string text() const {
        std::string s = name;
        for (const std::string &a : args) s += " " + a;
        return s;
    }
};

inline TracedCall parseTracedCall(const std::string &line) {
    TracedCall call;
    size_t i = line.find(' ');
    call.name = line.substr(0, i);
    while (i != std::string::npos && i < line.size()) {
        while (i < line.size() && line[i] == ' ') i++;
        if (i >= line.size()) break;
        if (line.compare(i, 3, "-> ") == 0) {
            call.result = line.substr(i + 3);
            break;
        }
        std::string arg;
        if (line[i] == '"') {
            arg = "\"";
            i++;
            while (i < line.size() && !(line[i] == '"' && (i + 1 == line.size() || line[i + 1] == ' '))) {
                if (line[i] == '\\' && i + 3 < line.size() && (line[i + 1] == 'x' || line[i + 1] == 'X')) {
                    arg += (char)strtol(line.substr(i + 2, 2).c_str(), nullptr, 16);
                    i += 4;
                } else {
                    arg += line[i++];
                }
            }
            arg += "\"";
            i++;
        } else {
            size_t end = line.find(' ', i);
            arg = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
            i = end;
        }
        call.args.push_back(arg);
    }
    return call;
}

// The firmware calls among trace lines (EVENT and other lines left out).
inline std::vector<TracedCall> tracedCalls(const std::vector<std::string> &lines) {
    std::vector<TracedCall> calls;
    for (const std::string &line : lines)
        if (line.compare(0, 4, "TAP_") == 0) calls.push_back(parseTracedCall(line));
    return calls;
}

inline std::vector<std::string> callTexts(const std::vector<TracedCall> &calls) {
    std::vector<std::string> texts;
    for (const TracedCall &c : calls) texts.push_back(c.text());
    return texts;
}

inline std::vector<TracedCall> callsNamed(const std::vector<TracedCall> &calls, const std::string &name) {
    std::vector<TracedCall> found;
    for (const TracedCall &c : calls)
        if (c.name == name) found.push_back(c);
    return found;
}

inline std::string hexColour(unsigned colour) {
    char s[16];
    snprintf(s, sizeof s, "0x%08X", colour);
    return s;
}

// Builds the calls that draw a page, in the firmware's trace form.
struct PageBuilder {
    int region;
    std::vector<std::string> calls;

    void add(const std::string &name, std::initializer_list<std::string> args) {
        std::string s = name;
        for (const std::string &a : args) s += " " + a;
        calls.push_back(s);
    }
    std::string r() const { return std::to_string(region); }
    static std::string n(long v) { return std::to_string(v); }

    void fill(int x, int y, int w, int h, unsigned colour) {
        add("TAP_Osd_FillBox", {r(), n(x), n(y), n(w), n(h), hexColour(colour)});
    }
    void outline(int x, int y, int w, int h, unsigned colour) {
        add("TAP_Osd_DrawRectangle", {r(), n(x), n(y), n(w), n(h), "2", hexColour(colour)});
    }
    void puts(int x, int y, int limit, const std::string &text, unsigned colour, int size) {
        add("TAP_Osd_PutS", {r(), n(x), n(y), n(limit), "\"" + text + "\"", hexColour(colour), "0x00000000",
                             "0", n(size), "0", "1"});
    }
    void button(int x, int y, int w, const std::string &label, bool selected) {
        if (!selected) {
            fill(x, y, w, 30, 0xFF181818);
            puts(x, y + 4, x + w, label, 0xFFC0C0C0, 1);
            return;
        }
        for (int i = 0; i < 15; i++)
            fill(x, y + i, w, 30 - 2 * i,
                 0xFF000000u | (0xA0u - 7 * i) << 16 | (0xE0u - 7 * i) << 8 | (0x88u - 7 * i));
        puts(x, y + 4, x + w, label, 0xFF101010, 1);
    }
    // Background, title, heading panel and body panel.
    void panels(const std::string &title, int h, const std::string &heading, int b, int H) {
        fill(0, 0, 720, 576, 0xFF101010);
        puts(0, 64, 720, title, 0xFFE8E8FA, 2);
        outline(148, h, 424, 38, 0xFF464646);
        fill(150, h + 2, 420, 34, 0xFF202020);
        puts(150, h + 8, 570, heading, 0xFFE89211, 1);
        outline(148, b, 424, H, 0xFF464646);
        fill(150, b + 2, 420, H - 4, 0xFF28281E);
    }
    void line(int y, const std::string &text) { puts(150, y, 570, text, 0xFFC0C0C0, 1); }
};

// The texts on the screen, per language (English, German, Dutch, French),
// as ISO 8859-1 bytes.
struct ScreenTexts {
    const char *language;
    std::string title, lngHeading, lngLine1, lngLine2, proceed, quit, targetHeading, targetLine,
        installing, complete, exit;
};

inline const std::vector<ScreenTexts> &screenTexts() {
    static const std::vector<ScreenTexts> texts = {
        {"English", "Install Zephyrdesk 2.20", "Language", "Please select the language",
         "of this installation TAP", "and press OK to proceed", "or EXIT to quit.", "Installation target",
         "Please select the installation target", "Installing", "Complete", "Exit"},
        {"German", "Installiere Zephyrdesk 2.20", "Sprache", "W\xE4hle die Sprache",
         "f\xFCr dieses Installations-TAP", "und dr\xFC" "cke OK um fortzufahren", "oder EXIT um abzubrechen.",
         "Installationsziel", "W\xE4hle das Installationsziel", "Installiere", "Fertig", "beenden"},
        {"Dutch", "Installeer Zephyrdesk 2.20", "Taal", "Kies de taal", "voor deze installatie-TAP",
         "en druk OK om verder te gaan", "of EXIT om af te breken.", "Installatie bestemming",
         "Kies de installatie bestemming", "Installeren", "Klaar", "Afsluiten"},
        {"French", "Installez Zephyrdesk 2.20", "Langue", "Selectionnez la langue", "pour ce TAP d'installation",
         "et poussez OK pour continuer", "ou EXIT pour quitter.", "Destination de l'installation",
         "Choisissez la destination de l'installation", "Installant", "Pret", "Sortie"},
    };
    return texts;
}

// The calls of one page: TAP_ExitNormal first, TAP_Osd_Sync last.
inline std::vector<std::string> languagePage(int region, int language, bool createsRegion) {
    const ScreenTexts &t = screenTexts().at(language);
    PageBuilder p{region, {}};
    p.add("TAP_ExitNormal", {});
    if (createsRegion) p.add("TAP_Osd_Create", {"0", "0", "720", "576", "0", "4096"});
    p.panels(t.title, 165, t.lngHeading, 201, 210);
    p.line(220, t.lngLine1);
    p.line(250, t.lngLine2);
    p.line(280, t.proceed);
    p.line(310, t.quit);
    const char *labels[] = {"EN", "DE", "NL", "FR"};
    for (int i = 0; i < 4; i++) p.button(170 + 100 * i, 355, 80, labels[i], i == language);
    p.add("TAP_Osd_Sync", {});
    return p.calls;
}

inline std::vector<std::string> targetPage(int region, int language, int option) {
    const ScreenTexts &t = screenTexts().at(language);
    PageBuilder p{region, {}};
    p.add("TAP_ExitNormal", {});
    p.panels(t.title, 135, t.targetHeading, 171, 268);
    p.line(190, t.targetLine);
    p.line(220, t.proceed);
    p.line(250, t.quit);
    p.button(260, 295, 220, "/ProgramFiles/AutoStart", option == 0);
    p.button(260, 340, 220, "/ProgramFiles", option == 1);
    p.button(260, 385, 220, t.exit, option == 2);
    p.add("TAP_Osd_Sync", {});
    return p.calls;
}

inline std::vector<std::string> installPage(int region, int language, int barWidth, bool complete) {
    const ScreenTexts &t = screenTexts().at(language);
    PageBuilder p{region, {}};
    p.add("TAP_ExitNormal", {});
    p.panels(t.title, 210, complete ? t.complete : t.installing, 246, 120);
    p.outline(178, 270, 364, 20, 0xFF464646);
    p.fill(180, 272, 360, 16, 0xFF181818);
    if (barWidth > 0) p.fill(182, 275, barWidth, 11, 0xFF0000FF);
    if (complete) p.button(300, 310, 122, t.exit, true);
    p.add("TAP_Osd_Sync", {});
    return p.calls;
}

// The OSD part of a stretch of calls: what draws and what brings the
// screen up to date, in order.
inline std::vector<std::string> osdCalls(const std::vector<TracedCall> &calls) {
    std::vector<std::string> texts;
    for (const TracedCall &c : calls)
        if (c.name.compare(0, 8, "TAP_Osd_") == 0 || c.name == "TAP_ExitNormal" || c.name == "TAP_EnterNormal")
            texts.push_back(c.text());
    return texts;
}

// The colour of row k (0..29) of a selected button.
inline unsigned selectedButtonRow(int k) {
    unsigned i = k < 29 - k ? k : 29 - k;
    return 0xFF000000u | (0xA0u - 7 * i) << 16 | (0xE0u - 7 * i) << 8 | (0x88u - 7 * i);
}

#endif
