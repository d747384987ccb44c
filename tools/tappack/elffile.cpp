/*
 * The TAP file side of tappack, through elfutils' libelf: reading the
 * identity and payload sections, and writing a TAP file with a new
 * payload.
 *
 * Layout of a packed file: every section of the input except the
 * section-name table, the symbol table and its string table keeps its
 * index, its offset and its bytes; then come ".PayloadCRC", zero padding
 * to the next 4096-byte boundary, ".Payload", the three tables and the
 * section header table.  The section indices follow the same order, so
 * only the three tables move to higher indices (the symbol table's
 * references to them follow).  Loadable segments are untouched.
 */
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tappack.h"

namespace {

const char *const PAYLOAD_NAME = ".Payload";
const char *const CRC_NAME = ".PayloadCRC";

bool readWhole(const std::string &path, std::vector<unsigned char> &bytes, std::string &error) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        error = path + ": " + strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        close(fd);
        return false;
    }
    bytes.resize((size_t)st.st_size);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += (size_t)n;
    }
    close(fd);
    if (done != bytes.size()) {
        error = path + ": read failed";
        return false;
    }
    return true;
}

std::string elfError(const std::string &what) { return what + ": " + elf_errmsg(-1); }

/* The ELF view of a file held in memory; ends with the object. */
struct ElfReader {
    Elf *elf = nullptr;
    size_t sections = 0, nameTable = 0, segments = 0;
    ~ElfReader() {
        if (elf) elf_end(elf);
    }
    bool open(std::vector<unsigned char> &bytes, const std::string &path, std::string &error) {
        if (elf_version(EV_CURRENT) == EV_NONE) {
            error = elfError("libelf");
            return false;
        }
        elf = elf_memory((char *)bytes.data(), bytes.size());
        if (!elf || elf_kind(elf) != ELF_K_ELF) {
            error = path + ": not an ELF file";
            return false;
        }
        if (elf_getshdrnum(elf, &sections) != 0 || elf_getshdrstrndx(elf, &nameTable) != 0 ||
            elf_getphdrnum(elf, &segments) != 0) {
            error = elfError(path + ": no readable section table");
            return false;
        }
        if (sections == 0 || nameTable == 0 || nameTable >= sections) {
            error = path + ": no section-name table";
            return false;
        }
        return true;
    }
    std::string name(const GElf_Shdr &shdr) const {
        const char *n = elf_strptr(elf, nameTable, shdr.sh_name);
        return n ? n : "";
    }
};

/* A text section (NUL-padded) as a string, bounded by the file. */
std::string sectionText(const std::vector<unsigned char> &bytes, const GElf_Shdr &shdr) {
    if (shdr.sh_type == SHT_NOBITS || shdr.sh_offset >= bytes.size()) return "";
    size_t size = (size_t)std::min<unsigned long long>(shdr.sh_size, bytes.size() - shdr.sh_offset);
    const char *text = (const char *)bytes.data() + shdr.sh_offset;
    return std::string(text, strnlen(text, size));
}

unsigned long long roundUp(unsigned long long value, unsigned long long alignment) {
    if (alignment <= 1) return value;
    return (value + alignment - 1) / alignment * alignment;
}

/* Offset of a NUL-terminated string in a string table, or -1. */
long long findString(const std::vector<unsigned char> &table, const char *text) {
    size_t length = strlen(text);
    for (size_t at = 0; at + length < table.size(); at++)
        if ((at == 0 || table[at - 1] == 0) && memcmp(&table[at], text, length) == 0 && table[at + length] == 0)
            return (long long)at;
    return -1;
}

long long addString(std::vector<unsigned char> &table, const char *text) {
    long long at = findString(table, text);
    if (at >= 0) return at;
    if (table.empty()) table.push_back(0);
    at = (long long)table.size();
    table.insert(table.end(), text, text + strlen(text) + 1);
    return at;
}

enum Role { CONTENT, OLD_PAYLOAD, TABLE };

} // namespace

uint32_t crc32Of(const unsigned char *data, size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        uInt piece = size > (1u << 30) ? (1u << 30) : (uInt)size;
        crc = crc32(crc, data, piece);
        data += piece, size -= piece;
    }
    return (uint32_t)crc;
}

bool readTap(const std::string &path, TapFile &tap, std::string &error) {
    tap = TapFile();
    if (!readWhole(path, tap.bytes, error)) return false;
    ElfReader in;
    if (!in.open(tap.bytes, path, error)) return false;
    for (size_t i = 1; i < in.sections; i++) {
        GElf_Shdr shdr;
        if (!gelf_getshdr(elf_getscn(in.elf, i), &shdr)) continue;
        std::string name = in.name(shdr);
        SectionInfo *info = name == PAYLOAD_NAME ? &tap.payload : name == CRC_NAME ? &tap.crc : nullptr;
        if (info && !info->present) {
            info->present = true;
            info->offset = shdr.sh_offset, info->size = shdr.sh_size, info->align = shdr.sh_addralign;
            info->flags = shdr.sh_flags, info->addr = shdr.sh_addr, info->type = shdr.sh_type;
        }
        if (name == "._tap_id" && shdr.sh_size == 4 && shdr.sh_offset + 4 <= tap.bytes.size()) {
            const unsigned char *b = tap.bytes.data() + shdr.sh_offset;
            bool big = gelf_getclass(in.elf) != ELFCLASSNONE && elf_getident(in.elf, nullptr)[EI_DATA] == ELFDATA2MSB;
            tap.tapId = big ? (uint32_t)b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]
                            : (uint32_t)b[3] << 24 | b[2] << 16 | b[1] << 8 | b[0];
            tap.hasId = true;
        }
        if (name == "._tap_program_name") tap.programName = sectionText(tap.bytes, shdr);
        if (name == "._tap_author_name") tap.author = sectionText(tap.bytes, shdr);
        if (name == "._tap_description") tap.description = sectionText(tap.bytes, shdr);
        if (name == "._tap_program_version") tap.version = sectionText(tap.bytes, shdr);
        if (name == "._tap_etcinfo") tap.buildDate = sectionText(tap.bytes, shdr);
    }
    return true;
}

bool packTap(const std::string &inPath, const std::vector<unsigned char> &archive, const std::string &outPath,
             std::string &error) {
    std::vector<unsigned char> bytes;
    if (!readWhole(inPath, bytes, error)) return false;
    ElfReader in;
    if (!in.open(bytes, inPath, error)) return false;
    if (in.sections >= SHN_LORESERVE) {
        error = inPath + ": too many sections";
        return false;
    }
    GElf_Ehdr ehdr;
    if (!gelf_getehdr(in.elf, &ehdr)) {
        error = elfError(inPath);
        return false;
    }
    int elfClass = gelf_getclass(in.elf);

    // Which sections stay where they are, which are the tables that
    // follow the payload, and which is an earlier payload.
    std::vector<GElf_Shdr> shdrs(in.sections);
    std::vector<Role> roles(in.sections, CONTENT);
    size_t symtab = 0;
    for (size_t i = 1; i < in.sections; i++) {
        if (!gelf_getshdr(elf_getscn(in.elf, i), &shdrs[i])) {
            error = elfError(inPath);
            return false;
        }
        std::string name = in.name(shdrs[i]);
        if (name == PAYLOAD_NAME || name == CRC_NAME) roles[i] = OLD_PAYLOAD;
        if (shdrs[i].sh_type == SHT_SYMTAB) roles[i] = TABLE, symtab = i;
        if (shdrs[i].sh_type == SHT_SYMTAB_SHNDX) {
            error = inPath + ": extended section indices are not supported";
            return false;
        }
    }
    roles[in.nameTable] = TABLE;
    if (symtab && shdrs[symtab].sh_link > 0 && shdrs[symtab].sh_link < in.sections) roles[shdrs[symtab].sh_link] = TABLE;

    // Content keeps its indices: nothing may come after the tables.
    size_t contentCount = 0;
    for (size_t i = 1; i < in.sections; i++)
        if (roles[i] == CONTENT) {
            if (contentCount != i - 1) {
                error = inPath + ": section " + in.name(shdrs[i]) +
                        " follows the symbol or name tables; tappack keeps such sections where they are only "
                        "when they come first";
                return false;
            }
            contentCount++;
        }
    const size_t crcIndex = contentCount + 1, payloadIndex = contentCount + 2;
    std::vector<size_t> newIndex(in.sections, 0);
    size_t next = payloadIndex + 1;
    for (size_t i = 1; i < in.sections; i++) {
        if (roles[i] == CONTENT) newIndex[i] = i;
        if (roles[i] == TABLE) newIndex[i] = next++;
    }
    const size_t outSections = next;
    auto remap = [&](size_t index, size_t &mapped) {
        if (index == 0 || index >= in.sections) {
            mapped = index;
            return true;
        }
        mapped = newIndex[index];
        return mapped != 0;
    };

    // Where the kept contents end: headers and every section with bytes.
    unsigned long long contentEnd = ehdr.e_ehsize;
    if (in.segments) contentEnd = std::max<unsigned long long>(contentEnd, ehdr.e_phoff + in.segments * ehdr.e_phentsize);
    for (size_t i = 1; i < in.sections; i++)
        if (roles[i] == CONTENT && shdrs[i].sh_type != SHT_NOBITS)
            contentEnd = std::max<unsigned long long>(contentEnd, shdrs[i].sh_offset + shdrs[i].sh_size);
    if (contentEnd > bytes.size()) {
        error = inPath + ": a section lies beyond the end of the file";
        return false;
    }
    for (size_t i = 0; i < in.segments; i++) {
        GElf_Phdr phdr;
        if (gelf_getphdr(in.elf, (int)i, &phdr) && phdr.p_filesz && phdr.p_offset + phdr.p_filesz > contentEnd) {
            error = inPath + ": a segment reaches into the symbol or name tables";
            return false;
        }
    }

    // The section-name table, with the payload's names.
    Elf_Data *names = elf_rawdata(elf_getscn(in.elf, in.nameTable), nullptr);
    if (!names) {
        error = elfError(inPath + ": section-name table");
        return false;
    }
    std::vector<unsigned char> nameTable((unsigned char *)names->d_buf, (unsigned char *)names->d_buf + names->d_size);
    long long crcName = addString(nameTable, CRC_NAME), payloadName = addString(nameTable, PAYLOAD_NAME);

    // The symbol table's bytes, translated; its section indices follow
    // the move once it belongs to the output.
    std::vector<unsigned char> symbols;
    Elf_Data symbolData{};
    if (symtab) {
        Elf_Data *d = elf_getdata(elf_getscn(in.elf, symtab), nullptr);
        if (!d) {
            error = elfError(inPath + ": symbol table");
            return false;
        }
        symbols.assign((unsigned char *)d->d_buf, (unsigned char *)d->d_buf + d->d_size);
        symbolData = *d;
        symbolData.d_buf = symbols.data();
    }

    // The output, laid out by hand (ELF_F_LAYOUT).
    std::string tmpPath = outPath + ".tappack-XXXXXX";
    int fd = mkstemp(&tmpPath[0]);
    if (fd < 0) {
        error = outPath + ": " + strerror(errno);
        return false;
    }
    struct stat inStat;
    if (stat(inPath.c_str(), &inStat) == 0) fchmod(fd, inStat.st_mode & 0777);
    Elf *out = nullptr;
    auto fail = [&](const std::string &why) {
        error = why;
        if (out) elf_end(out);
        out = nullptr;
        close(fd);
        unlink(tmpPath.c_str());
        return false;
    };
    out = elf_begin(fd, ELF_C_WRITE, nullptr);
    if (!out || !gelf_newehdr(out, elfClass) || (in.segments && !gelf_newphdr(out, in.segments)))
        return fail(elfError(outPath));
    elf_flagelf(out, ELF_C_SET, ELF_F_LAYOUT);
    for (size_t i = 0; i < in.segments; i++) {
        GElf_Phdr phdr;
        gelf_getphdr(in.elf, (int)i, &phdr);
        gelf_update_phdr(out, (int)i, &phdr);
    }

    unsigned char crcBytes[4];
    uint32_t crc = crc32Of(archive.data(), archive.size());
    for (int b = 0; b < 4; b++) crcBytes[b] = (unsigned char)(crc >> (8 * b)); // little-endian on every target
    const unsigned long long crcOffset = roundUp(contentEnd, 4);
    const unsigned long long payloadOffset = roundUp(crcOffset + 4, PAYLOAD_ALIGNMENT);
    unsigned long long cursor = payloadOffset + archive.size();

    // Sections in their new index order.
    std::vector<size_t> order(outSections, 0); // input index, 0 for the new ones
    for (size_t i = 1; i < in.sections; i++)
        if (newIndex[i]) order[newIndex[i]] = i;
    for (size_t o = 1; o < outSections; o++) {
        Elf_Scn *scn = elf_newscn(out);
        Elf_Data *data = scn ? elf_newdata(scn) : nullptr;
        if (!data) {
            return fail(elfError(outPath));
        }
        GElf_Shdr shdr{};
        data->d_type = ELF_T_BYTE, data->d_version = EV_CURRENT, data->d_off = 0, data->d_align = 1;
        if (o == crcIndex || o == payloadIndex) {
            shdr.sh_name = (GElf_Word)(o == crcIndex ? crcName : payloadName);
            shdr.sh_type = SHT_PROGBITS;
            shdr.sh_addralign = o == crcIndex ? 4 : 1;
            shdr.sh_offset = o == crcIndex ? crcOffset : payloadOffset;
            shdr.sh_size = o == crcIndex ? 4 : archive.size();
            data->d_buf = o == crcIndex ? (void *)crcBytes : (void *)archive.data();
            data->d_size = shdr.sh_size;
        } else {
            size_t i = order[o];
            shdr = shdrs[i];
            size_t mapped;
            if (!remap(shdr.sh_link, mapped)) {
                return fail(inPath + ": a section refers to the payload section");
            }
            shdr.sh_link = (GElf_Word)mapped;
            if ((shdr.sh_type == SHT_REL || shdr.sh_type == SHT_RELA || (shdr.sh_flags & SHF_INFO_LINK)) &&
                remap(shdr.sh_info, mapped))
                shdr.sh_info = (GElf_Word)mapped;
            if (i == (size_t)in.nameTable) {
                data->d_buf = nameTable.data();
                data->d_size = shdr.sh_size = nameTable.size();
            } else if (i == symtab) {
                data->d_buf = symbolData.d_buf, data->d_size = symbolData.d_size;
                data->d_type = symbolData.d_type, data->d_align = symbolData.d_align;
                for (int s = 0;; s++) {
                    GElf_Sym sym;
                    if (!gelf_getsym(data, s, &sym)) break;
                    if (sym.st_shndx == SHN_XINDEX ||
                        (sym.st_shndx < SHN_LORESERVE && !remap(sym.st_shndx, mapped))) {
                        return fail(inPath + ": a symbol belongs to the payload section");
                    }
                    if (sym.st_shndx < SHN_LORESERVE) sym.st_shndx = (Elf64_Section)mapped;
                    gelf_update_sym(data, s, &sym);
                }
            } else {
                Elf_Data *raw = elf_rawdata(elf_getscn(in.elf, i), nullptr);
                if (!raw && shdr.sh_type != SHT_NOBITS && shdr.sh_size) return fail(elfError(inPath));
                data->d_buf = shdr.sh_type == SHT_NOBITS || !raw ? nullptr : raw->d_buf;
                data->d_size = shdr.sh_size;
            }
            if (roles[i] == TABLE) {
                shdr.sh_offset = roundUp(cursor, shdr.sh_addralign);
                cursor = shdr.sh_offset + shdr.sh_size;
            }
        }
        if (!gelf_update_shdr(scn, &shdr)) {
            return fail(elfError(outPath));
        }
    }
    GElf_Ehdr outEhdr = ehdr;
    outEhdr.e_shoff = roundUp(cursor, elfClass == ELFCLASS64 ? 8 : 4);
    outEhdr.e_shstrndx = (GElf_Half)newIndex[in.nameTable];
    if (!gelf_update_ehdr(out, &outEhdr) || elf_update(out, ELF_C_WRITE) < 0) {
        return fail(elfError(outPath));
    }
    elf_end(out);
    out = nullptr;

    // libelf writes zeros between sections: the kept part must come out
    // as it went in (a gap with other bytes would be lost).
    std::vector<unsigned char> written;
    if (!readWhole(tmpPath, written, error)) return fail(error);
    unsigned long long oldTableStart = ehdr.e_shoff, oldTableEnd = ehdr.e_shoff + in.sections * ehdr.e_shentsize;
    for (unsigned long long at = ehdr.e_ehsize; at < contentEnd; at++)
        if (written[at] != bytes[at] && !(at >= oldTableStart && at < oldTableEnd)) {
            char where[32];
            snprintf(where, sizeof where, "0x%llx", at);
            return fail(inPath + ": bytes outside every section at offset " + where + " would be lost");
        }
    if (close(fd) != 0) {
        fd = -1;
        unlink(tmpPath.c_str());
        error = outPath + ": " + strerror(errno);
        return false;
    }
    if (rename(tmpPath.c_str(), outPath.c_str()) != 0) {
        error = outPath + ": " + strerror(errno);
        unlink(tmpPath.c_str());
        return false;
    }
    return true;
}
