// What the payload tests learn from the PC's own programs: the section
// table as readelf shows it, archives as GNU tar makes and lists them, the
// CRC-32 that gzip records.  Host programs run through system(), which the
// receiver build under qemu-mipsel can start as well; they must not run
// while a stand-in receiver is up (between emuStart and emuStop).
#ifndef TESTS_PAYLOAD_TOOLS_H
#define TESTS_PAYLOAD_TOOLS_H

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "emutest.h"

namespace payloadtest {

struct Ran {
    int status = -1;
    std::string out, err;
};

inline std::string quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell command with its output captured in files of dir.
inline Ran run(const std::string &command, const std::string &dir) {
    std::string out = dir + "/command.out", err = dir + "/command.err";
    int status = system((command + " >" + quote(out) + " 2>" + quote(err)).c_str());
    Ran r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readFile(out);
    r.err = readFile(err);
    return r;
}

// A fresh folder for this test case under the build's scratch folder.
inline std::string scratchFolder() {
    const ::testing::TestInfo *t = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(t->test_suite_name()) + "." + t->name();
    for (char &c : name)
        if (c == '/') c = '.';
    std::string dir = std::string(TEST_SCRATCH_DIR) + "/" + name;
    removeTree(dir);
    makeDirs(dir);
    return dir;
}

using ::lines;  // the fixture's

inline std::vector<std::string> words(const std::string &line) {
    std::vector<std::string> result;
    std::istringstream in(line);
    for (std::string w; in >> w;) result.push_back(w);
    return result;
}

// One line of `readelf -S -W`.
struct ElfSection {
    int index = -1;
    std::string name, type, flags;
    unsigned long long addr = 0, offset = 0, size = 0, align = 0;
    unsigned link = 0;
};

// The file as readelf shows it: its class, section header table and
// sections, and whatever readelf said on stderr.
struct ElfView {
    bool ok = false;
    bool wide = false; // ELF64
    std::string machine;
    unsigned long long sectionTable = 0, sectionHeaderSize = 0, sectionCount = 0;
    std::vector<ElfSection> sections;
    std::string warnings;
    const ElfSection *find(const std::string &name) const {
        for (const ElfSection &s : sections)
            if (s.name == name) return &s;
        return nullptr;
    }
};

inline unsigned long long headerNumber(const std::string &text, const std::string &key) {
    size_t at = text.find(key);
    return at == std::string::npos ? 0 : std::stoull(text.substr(at + key.size()));
}

inline ElfView readelf(const std::string &file, const std::string &dir, const std::string &program = "readelf") {
    ElfView v;
    Ran h = run(program + " -h -W " + quote(file), dir);
    Ran s = run(program + " -S -W " + quote(file), dir);
    v.warnings = h.err + s.err;
    if (h.status != 0 || s.status != 0) return v;
    v.wide = h.out.find("Class:                             ELF64") != std::string::npos;
    size_t m = h.out.find("Machine:");
    if (m != std::string::npos) v.machine = words(h.out.substr(m + 8, h.out.find('\n', m) - m - 8)).at(0);
    v.sectionTable = headerNumber(h.out, "Start of section headers:");
    v.sectionHeaderSize = headerNumber(h.out, "Size of section headers:");
    v.sectionCount = headerNumber(h.out, "Number of section headers:");
    for (const std::string &line : lines(s.out)) {
        size_t open = line.find('['), close = line.find(']');
        if (open == std::string::npos || close == std::string::npos || line.find("Nr]") != std::string::npos)
            continue;
        std::vector<std::string> w = words(line.substr(close + 1));
        ElfSection e;
        e.index = std::stoi(line.substr(open + 1, close - open - 1));
        if (e.index == 0) continue;
        if (w.size() != 9 && w.size() != 10) continue;
        e.name = w[0], e.type = w[1];
        e.addr = std::stoull(w[2], nullptr, 16), e.offset = std::stoull(w[3], nullptr, 16);
        e.size = std::stoull(w[4], nullptr, 16);
        e.flags = w.size() == 10 ? w[6] : "";
        e.link = (unsigned)std::stoul(w[w.size() - 3]);
        e.align = std::stoull(w[w.size() - 1]);
        v.sections.push_back(e);
    }
    v.ok = !v.sections.empty();
    return v;
}

// The CRC-32 of a file as gzip stores it in its trailer (little-endian).
inline std::string gzipCrc(const std::string &file, const std::string &dir) {
    Ran r = run("gzip -c " + quote(file) + " | tail -c 8 | head -c 4", dir);
    return r.out;
}

// `tar -tv` of an archive file, in the C locale and UTC.
inline Ran tarList(const std::string &archive, const std::string &dir, const std::string &options = "") {
    return run("LC_ALL=C TZ=UTC tar " + options + " -tvf " + quote(archive), dir);
}

// The bytes of a section, from the offset and size readelf gives.
inline std::string sectionBytes(const std::string &fileBytes, const ElfSection &s) {
    if (s.offset > fileBytes.size()) return "";
    return fileBytes.substr(s.offset, s.size);
}

} // namespace payloadtest

#endif
