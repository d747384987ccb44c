// The section table of an ELF file as GNU readelf reports it, and copies
// of a real TAP file patched at the places that the ELF format gives
// (32-bit on the receiver build, 64-bit on the PC build).  readelf is the
// PC's program: run it before emuStart (the emulated receiver build can
// still start it).
#ifndef TESTS_SUPPORT_ELF_REFERENCE_H
#define TESTS_SUPPORT_ELF_REFERENCE_H

#include <stdio.h>
#include <stdlib.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace elfref {

struct Section {
    unsigned index = 0;
    std::string name, type;
    unsigned long long offset = 0, size = 0;
};

struct Layout {
    bool ok = false;
    bool wide = false;  // ELF64
    unsigned long long headerSize = 0, shoff = 0, shentsize = 0, shnum = 0, shstrndx = 0;
    std::vector<Section> sections;

    // The first section of that name, or null.
    const Section *find(const std::string &name) const {
        for (const Section &s : sections)
            if (s.name == name) return &s;
        return nullptr;
    }
    const Section &names() const { return sections.at(shstrndx); }
};

inline std::string run(const std::string &command) {
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

// The number after "key:" in readelf's header listing.
inline unsigned long long headerValue(const std::string &listing, const std::string &key, bool &found) {
    size_t at = listing.find("  " + key + ":");
    if (at == std::string::npos) {
        found = false;
        return 0;
    }
    return strtoull(listing.c_str() + at + key.size() + 3, nullptr, 0);
}

inline Layout readelf(const std::string &path) {
    Layout l;
    std::string header = run("readelf -h -W '" + path + "' 2>/dev/null");
    bool found = true;
    l.wide = header.find("Class:                             ELF64") != std::string::npos;
    l.headerSize = headerValue(header, "Size of this header", found);
    l.shoff = headerValue(header, "Start of section headers", found);
    l.shentsize = headerValue(header, "Size of section headers", found);
    l.shnum = headerValue(header, "Number of section headers", found);
    l.shstrndx = headerValue(header, "Section header string table index", found);
    std::istringstream table(run("readelf -S -W '" + path + "' 2>/dev/null"));
    std::string line;
    while (std::getline(table, line)) {
        size_t open = line.find('['), close = line.find(']');
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        char *end = nullptr;
        std::string number = line.substr(open + 1, close - open - 1);
        unsigned long index = strtoul(number.c_str(), &end, 10);
        if (end == number.c_str()) continue;  // the "[Nr]" title
        std::istringstream fields(line.substr(close + 1));
        std::vector<std::string> f;
        for (std::string word; fields >> word;) f.push_back(word);
        if (index == 0) f.insert(f.begin(), "");  // the null section has no name
        if (f.size() < 5) continue;
        Section s;
        s.index = (unsigned)index;
        s.name = f[0];
        s.type = f[1];
        s.offset = strtoull(f[3].c_str(), nullptr, 16);
        s.size = strtoull(f[4].c_str(), nullptr, 16);
        l.sections.push_back(s);
    }
    l.ok = found && l.shnum > 0 && l.sections.size() == l.shnum && l.shstrndx < l.shnum;
    return l;
}

// A TAP file's bytes with its readelf layout, to be patched and written.
struct TapFile {
    std::string bytes;
    Layout layout;

    unsigned long long get(size_t at, unsigned width) const {
        unsigned long long v = 0;
        for (unsigned i = 0; i < width; i++) v |= (unsigned long long)(unsigned char)bytes.at(at + i) << (8 * i);
        return v;
    }
    void put(size_t at, unsigned long long value, unsigned width) {
        for (unsigned i = 0; i < width; i++) bytes.at(at + i) = (char)(value >> (8 * i));
    }

    // Fields of the ELF header and of section header i (System V ABI).
    unsigned word() const { return layout.wide ? 8 : 4; }
    size_t shoffField() const { return layout.wide ? 40 : 32; }
    size_t shnumField() const { return layout.wide ? 60 : 48; }
    size_t shstrndxField() const { return layout.wide ? 62 : 50; }
    size_t header(unsigned i) const { return (size_t)(layout.shoff + i * layout.shentsize); }
    size_t nameField(unsigned i) const { return header(i); }
    size_t typeField(unsigned i) const { return header(i) + 4; }
    size_t offsetField(unsigned i) const { return header(i) + (layout.wide ? 24 : 16); }
    size_t sizeField(unsigned i) const { return header(i) + (layout.wide ? 32 : 20); }

    const Section &section(const std::string &name) const {
        const Section *s = layout.find(name);
        if (!s) throw std::runtime_error("no section " + name);
        return *s;
    }
    unsigned index(const std::string &name) const { return section(name).index; }
    // Where the section's name lies in the file.
    size_t nameAt(unsigned i) const { return (size_t)(layout.names().offset + get(nameField(i), 4)); }

    // ".Xtap_id" for "._tap_id": no lookup finds the section any more.
    void rename(const std::string &name) { bytes.at(nameAt(index(name)) + 1) = 'X'; }
    void resize(const std::string &name, unsigned long long size) { put(sizeField(index(name)), size, word()); }
    // The section's first bytes (it keeps its size).
    void fill(const std::string &name, const std::string &contents) {
        const Section &s = section(name);
        if (contents.size() > s.size) throw std::logic_error("contents larger than " + name);
        bytes.replace((size_t)s.offset, contents.size(), contents);
    }
    // The section's contents up to the first NUL.
    std::string text(const std::string &name) const {
        const Section &s = section(name);
        std::string contents = bytes.substr((size_t)s.offset, (size_t)s.size);
        return contents.substr(0, contents.find('\0'));
    }
};

}  // namespace elfref

#endif
