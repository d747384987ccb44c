// Every TAP file the project builds, as the receiver's loader sees it, read
// with GNU readelf: it names no library, asks for no symbol version, takes
// only the platform's calls by name (firmware/platform-calls.txt), and on
// the receiver build is code for the MIPS32 base instruction set.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::vector<std::string> words(const std::string &line) {
    std::vector<std::string> result;
    std::istringstream in(line);
    for (std::string word; in >> word;) result.push_back(word);
    return result;
}

struct Output {
    int status = -1;
    std::string text;
};

// What `readelf <options> <file>` prints, and its exit status.
Output readelf(const std::string &options, const std::string &file) {
    Output out;
    std::string command = std::string(READELF) + " " + options + " '" + file + "' 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.text.append(buffer, n);
    int status = pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// The names of firmware/platform-calls.txt with their reasons.
std::map<std::string, std::string> platformCalls() {
    std::ifstream in(PLATFORM_CALLS);
    std::stringstream text;
    text << in.rdbuf();
    std::map<std::string, std::string> calls;
    for (const std::string &line : lines(text.str())) {
        std::vector<std::string> w = words(line);
        if (w.empty() || w[0][0] == '#') continue;
        calls[w[0]] = w.size() > 1 ? line.substr(line.find(w[1], w[0].size())) : "";
    }
    return calls;
}

// The TAP files that add_tap builds, one a line in the build's list.
std::vector<std::string> tapFiles() {
    std::ifstream in(TAP_FILE_LIST);
    std::vector<std::string> files;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) files.push_back(line);
    return files;
}

std::string testName(const ::testing::TestParamInfo<std::string> &info) {
    std::string name = info.param.substr(info.param.rfind('/') + 1);
    name = name.substr(0, name.rfind('.'));
    for (char &c : name)
        if (!isalnum((unsigned char)c)) c = '_';
    return name;
}

std::string joined(const std::vector<std::string> &items) {
    std::string text;
    for (const std::string &item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

TEST(PlatformCalls, EveryNameHasItsReason) {
    std::ifstream in(PLATFORM_CALLS);
    ASSERT_TRUE(in.good()) << PLATFORM_CALLS;
    std::stringstream text;
    text << in.rdbuf();
    size_t names = 0;
    for (const std::string &line : lines(text.str())) {
        std::vector<std::string> w = words(line);
        if (w.empty() || w[0][0] == '#') continue;
        names++;
        EXPECT_GE(w.size(), 2u) << w[0] << " is listed without a reason";
    }
    EXPECT_GT(names, 0u);
}

TEST(TapFiles, ListEveryTapIncludingTheInstaller) {
    std::vector<std::string> files = tapFiles();
    EXPECT_NE(files.end(), std::find(files.begin(), files.end(), std::string(INSTALLER_TAP)))
        << "the installer is missing from " << TAP_FILE_LIST;
    EXPECT_NE(files.end(), std::find(files.begin(), files.end(), std::string(DIVIDE_TAP)))
        << "the test TAPs are missing from " << TAP_FILE_LIST;
}

class TapFile : public ::testing::TestWithParam<std::string> {};

TEST_P(TapFile, NamesNoLibrary) {
    Output dynamic = readelf("-d -W", GetParam());
    ASSERT_EQ(0, dynamic.status) << dynamic.text;
    ASSERT_NE(std::string::npos, dynamic.text.find("Dynamic section at offset")) << dynamic.text;
    std::vector<std::string> needed;
    for (const std::string &line : lines(dynamic.text))
        if (line.find("(NEEDED)") != std::string::npos) needed.push_back(line.substr(line.find("(NEEDED)")));
    EXPECT_TRUE(needed.empty()) << GetParam() << " names libraries: " << joined(needed);
}

TEST_P(TapFile, AsksForNoSymbolVersion) {
    Output sections = readelf("-S -W", GetParam());
    ASSERT_EQ(0, sections.status) << sections.text;
    ASSERT_NE(std::string::npos, sections.text.find(" .dynsym ")) << sections.text;
    EXPECT_EQ(std::string::npos, sections.text.find(".gnu.version_r"))
        << GetParam() << " has a version needs section";
    Output dynamic = readelf("-d -W", GetParam());
    EXPECT_EQ(std::string::npos, dynamic.text.find("(VERNEED)")) << dynamic.text;
    Output symbols = readelf("--dyn-syms -W", GetParam());
    for (const std::string &line : lines(symbols.text)) {
        std::vector<std::string> w = words(line);
        if (w.size() >= 8 && w[6] == "UND") {
            EXPECT_EQ(std::string::npos, w[7].find('@')) << GetParam() << " asks for the version of " << w[7];
        }
    }
}

TEST_P(TapFile, TakesOnlyPlatformCalls) {
    std::map<std::string, std::string> allowed = platformCalls();
    ASSERT_FALSE(allowed.empty()) << PLATFORM_CALLS;
    Output symbols = readelf("--dyn-syms -W", GetParam());
    ASSERT_EQ(0, symbols.status) << symbols.text;
    ASSERT_NE(std::string::npos, symbols.text.find("Symbol table '.dynsym'")) << symbols.text;
    std::vector<std::string> strays;
    for (const std::string &line : lines(symbols.text)) {
        // Num: Value Size Type Bind Vis Ndx Name
        std::vector<std::string> w = words(line);
        if (w.size() < 8 || w[6] != "UND") continue;
        std::string name = w[7].substr(0, w[7].find('@'));
        if (!allowed.count(name)) strays.push_back(name);
    }
    EXPECT_TRUE(strays.empty()) << GetParam() << " calls " << joined(strays)
                                << ", which the receiver does not give a TAP (not in " << PLATFORM_CALLS << ")";
}

#if defined(__mips__)
TEST_P(TapFile, IsCodeForMips32Release1) {
    Output header = readelf("-h", GetParam());
    ASSERT_EQ(0, header.status) << header.text;
    std::string flags;
    for (const std::string &line : lines(header.text))
        if (line.find("Flags:") != std::string::npos) flags = line;
    std::vector<std::string> isa;
    std::istringstream in(flags.substr(flags.find(':') + 1));
    for (std::string flag; std::getline(in, flag, ',');) {
        flag = words(flag).empty() ? "" : words(flag)[0];
        if (flag.compare(0, 4, "mips") == 0) isa.push_back(flag);
    }
    const char *why = " (a later release came in with an object of the link: Debian's libgcc.a is built for "
                      "MIPS32r2, and -Wl,-Map shows which member)";
    EXPECT_EQ(std::vector<std::string>{"mips32"}, isa) << GetParam() << ": " << flags << why;
    Output attributes = readelf("-A", GetParam());
    ASSERT_EQ(0, attributes.status) << attributes.text;
    std::string abiIsa;
    for (const std::string &line : lines(attributes.text))
        if (line.compare(0, 4, "ISA:") == 0) abiIsa = line;
    EXPECT_EQ("ISA: MIPS32", abiIsa) << GetParam() << ": .MIPS.abiflags" << why;
}
#endif

INSTANTIATE_TEST_SUITE_P(Built, TapFile, ::testing::ValuesIn(tapFiles()), testName);

} // namespace
