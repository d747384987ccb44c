/*
 * What the loader checks of a TAP file before the dynamic loader sees it:
 * its TAP ID, and the program headers and dynamic entries that the
 * dynamic loader trusts.
 */
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "loader.h"

bool loaderReadWhole(const std::string &path, std::vector<unsigned char> &bytes) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    struct stat64 st;
    size_t expected = fstat64(fd, &st) == 0 && S_ISREG(st.st_mode) ? (size_t)st.st_size : 0;
    size_t done = bytes.size();
    bytes.resize(done + expected + 1);  // one byte more tells that the file has not grown
    ssize_t n;
    for (;;) {
        if (done == bytes.size()) bytes.resize(done + 65536);
        n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += (size_t)n;
    }
    bytes.resize(done);
    close(fd);
    return n == 0;
}

namespace {

/* A file's bytes, mapped read-only: a check reads the few pages it looks
 * at, not a payload of megabytes behind them. */
struct FileBytes {
    const unsigned char *bytes = nullptr;
    size_t length = 0;
    std::vector<unsigned char> copy;  // where the file cannot be mapped (empty, or no regular file)
    bool open(const std::string &path) {
        int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) return false;
        struct stat64 st;
        if (fstat64(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            void *map = mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (map != MAP_FAILED) {
                bytes = (const unsigned char *)map, length = (size_t)st.st_size;
                close(fd);
                return true;
            }
        }
        close(fd);
        if (!loaderReadWhole(path, copy)) return false;
        bytes = copy.data(), length = copy.size();
        return true;
    }
    ~FileBytes() {
        if (copy.empty() && bytes) munmap((void *)bytes, length);
    }
    size_t size() const { return length; }
    const unsigned char *data() const { return bytes; }
    unsigned char operator[](size_t at) const { return bytes[at]; }
};

}  // namespace

static unsigned long long little(const FileBytes &b, size_t at, int size) {
    unsigned long long v = 0;
    for (int i = size - 1; i >= 0; i--) v = v << 8 | b[at + i];
    return v;
}

int emuReadTapId(const std::string &hostPath, dword *id, std::string &reason) {
    FileBytes b;
    if (!b.open(hostPath)) {
        reason = "cannot read the file";
        return 0;
    }
    if (b.size() < 52 || memcmp(b.data(), "\x7F" "ELF", 4) != 0 || (b[4] != 1 && b[4] != 2)) {
        reason = "not an ELF file";
        return 0;
    }
    if (b[5] != 1) {
        reason = "not a little-endian ELF file";
        return 0;
    }
    bool wide = b[4] == 2;
    if (wide && b.size() < 64) {
        reason = "not an ELF file";
        return 0;
    }
    unsigned long long shoff = wide ? little(b, 0x28, 8) : little(b, 0x20, 4);
    unsigned entsize = (unsigned)little(b, wide ? 0x3A : 0x2E, 2);
    unsigned count = (unsigned)little(b, wide ? 0x3C : 0x30, 2);
    unsigned names = (unsigned)little(b, wide ? 0x3E : 0x32, 2);
    unsigned needed = wide ? 64 : 40;
    if (count == 0 || entsize < needed || names >= count || shoff > b.size() ||
        (unsigned long long)count * entsize > b.size() - shoff) {
        reason = "no readable section table";
        return 0;
    }
    auto field = [&](unsigned index, unsigned off32, unsigned off64, int size32, int size64) {
        size_t at = (size_t)shoff + (size_t)index * entsize + (wide ? off64 : off32);
        return little(b, at, wide ? size64 : size32);
    };
    unsigned long long namesOffset = field(names, 0x10, 0x18, 4, 8);
    unsigned long long namesSize = field(names, 0x14, 0x20, 4, 8);
    if (namesOffset > b.size() || namesSize > b.size() - namesOffset) {
        reason = "no readable section names";
        return 0;
    }
    static const char wanted[] = "._tap_id";
    for (unsigned i = 0; i < count; i++) {
        unsigned long long name = field(i, 0x00, 0x00, 4, 4);
        if (name + sizeof wanted > namesSize) continue;
        if (memcmp(b.data() + (size_t)(namesOffset + name), wanted, sizeof wanted) != 0) continue;
        unsigned long long offset = field(i, 0x10, 0x18, 4, 8);
        unsigned long long size = field(i, 0x14, 0x20, 4, 8);
        if (size != 4 || offset > b.size() - 4) {
            reason = "section ._tap_id is not 4 bytes";
            return 0;
        }
        *id = (dword)little(b, (size_t)offset, 4);
        return 1;
    }
    reason = "no ._tap_id section";
    return 0;
}

/* What the dynamic loader trusts before it maps a file: the program
 * headers, the loadable segments and the dynamic segment's entries must
 * lie within the file and its mapped image.  A file that fails is refused
 * with a reason instead of being handed to dlopen, which would crash on it. */
bool loaderSegmentsSound(const std::string &hostPath, std::string &reason) {
    FileBytes b;
    if (!b.open(hostPath) || b.size() < 52) {
        reason = "cannot read the file";
        return false;
    }
    bool wide = b[4] == 2;
    unsigned long long size = b.size();
    unsigned long long phoff = wide ? little(b, 0x20, 8) : little(b, 0x1C, 4);
    unsigned entsize = (unsigned)little(b, wide ? 0x36 : 0x2A, 2);
    unsigned count = (unsigned)little(b, wide ? 0x38 : 0x2C, 2);
    if (count == 0 || entsize < (wide ? 56u : 32u) || phoff > size ||
        (unsigned long long)count * entsize > size - phoff) {
        reason = "no readable program headers";
        return false;
    }
    struct Segment {
        unsigned long long type, offset, vaddr, filesz, memsz;
    };
    std::vector<Segment> loads;
    Segment dynamic{0, 0, 0, 0, 0};
    bool hasDynamic = false;
    for (unsigned i = 0; i < count; i++) {
        size_t at = (size_t)(phoff + (unsigned long long)i * entsize);
        Segment s;
        s.type = little(b, at, 4);
        s.offset = wide ? little(b, at + 8, 8) : little(b, at + 4, 4);
        s.vaddr = wide ? little(b, at + 16, 8) : little(b, at + 8, 4);
        s.filesz = wide ? little(b, at + 32, 8) : little(b, at + 16, 4);
        s.memsz = wide ? little(b, at + 40, 8) : little(b, at + 20, 4);
        if (s.type != 1 && s.type != 2) continue;  // PT_LOAD, PT_DYNAMIC
        if (s.offset > size || s.filesz > size - s.offset || s.filesz > s.memsz ||
            s.vaddr + s.memsz < s.vaddr) {
            reason = "a segment lies beyond the end of the file";
            return false;
        }
        if (s.type == 1) loads.push_back(s);
        if (s.type == 2) dynamic = s, hasDynamic = true;
    }
    // [address, address + length) inside one loadable segment's image
    auto mapped = [&](unsigned long long address, unsigned long long length, bool fromFile) {
        for (const Segment &l : loads) {
            unsigned long long end = l.vaddr + (fromFile ? l.filesz : l.memsz);
            if (address >= l.vaddr && address <= end && length <= end - address) return true;
        }
        return false;
    };
    if (loads.empty() || !hasDynamic || !mapped(dynamic.vaddr, dynamic.filesz, true)) {
        reason = "no dynamic segment inside the loaded image";
        return false;
    }
    unsigned step = wide ? 16 : 8;
    unsigned long long table[40] = {0};  // values of the tags below 40
    bool present[40] = {false};
    static const unsigned long long addressTags[] = {0x6ffffef5, 0x6ffffff0, 0x6ffffffc, 0x6ffffffe};
    for (unsigned long long at = dynamic.offset; at + step <= dynamic.offset + dynamic.filesz; at += step) {
        unsigned long long tag = little(b, (size_t)at, step / 2), value = little(b, (size_t)at + step / 2, step / 2);
        if (tag == 0) break;  // DT_NULL
        if (tag < 40) table[tag] = value, present[tag] = true;
        for (unsigned long long t : addressTags)
            if (tag == t && !mapped(value, 1, false)) {
                reason = "a dynamic entry points outside the loaded image";
                return false;
            }
    }
    // address tag, its size tag (0: one byte)
    static const unsigned ranges[][2] = {{3, 0}, {4, 0}, {5, 10}, {6, 0}, {7, 8}, {12, 0}, {13, 0},
                                         {17, 18}, {23, 2}, {25, 27}, {26, 28}};
    for (const auto &r : ranges)
        if (present[r[0]] && !mapped(table[r[0]], r[1] ? table[r[1]] : 1, false)) {
            reason = "a dynamic entry points outside the loaded image";
            return false;
        }
    if (!present[5] || !present[6]) {
        reason = "no dynamic symbol or string table";
        return false;
    }
    for (unsigned long long at = dynamic.offset; at + step <= dynamic.offset + dynamic.filesz; at += step) {
        unsigned long long tag = little(b, (size_t)at, step / 2), value = little(b, (size_t)at + step / 2, step / 2);
        if (tag == 0) break;
        if ((tag == 1 || tag == 14 || tag == 15 || tag == 29) && value >= table[10]) {
            reason = "a dynamic entry names a string beyond the string table";
            return false;
        }
    }
    return true;
}

