/*
 * tappack: puts a tar archive into a TAP file as its ".Payload" section
 * (with ".PayloadCRC" beside it) and shows and checks what an installer
 * file carries.  A host program: it reads and writes the TAP files of
 * either target (32-bit little-endian MIPS, 64-bit x86-64) through
 * elfutils' libelf.
 */
#ifndef TOOLS_TAPPACK_TAPPACK_H
#define TOOLS_TAPPACK_TAPPACK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/* Page size of the receiver: the payload's file offset is a multiple of
 * it, so that the installer can map the section directly. */
const unsigned long long PAYLOAD_ALIGNMENT = 4096;
/* GNU tar's record: 20 blocks of 512 bytes. */
const size_t TAR_RECORD = 10240;
const size_t TAR_BLOCK = 512;
/* Longest name the installer takes: 512-byte buffers with a leading "/"
 * and the terminating NUL. */
const size_t LONGEST_NAME = 510;

/* ---- The archive (archive.cpp) ------------------------------------- */

/* One entry of an archive as tar shows it; long-name entries are folded
 * into the entry that they name. */
struct TarEntry {
    size_t offset = 0;        /* of the entry's own header in the archive */
    char type = '0';          /* typeflag */
    std::string name;         /* full name, long name applied */
    std::string link;         /* link target (symbolic and hard links) */
    long long size = 0;       /* size field */
    long long mtime = 0;      /* seconds since 1970 */
    unsigned mode = 0;        /* permission bits */
    long long uid = 0, gid = 0;
    std::string uname, gname; /* owner and group names, empty when numeric */
};

/* What a walk of an archive found: the entries in order, the counts, and
 * the first problem (the walk stops there). */
struct TarWalk {
    std::vector<TarEntry> entries;
    size_t directories = 0, files = 0, others = 0;
    unsigned long long fileBytes = 0; /* data of the regular files */
    size_t longNames = 0;             /* "L" entries */
    size_t emptyBlocks = 0;           /* zero blocks, end of archive and padding included */
    bool damaged = false;
    size_t problemOffset = 0;         /* of the header where the walk stopped */
    std::string problem;              /* a few words: what is wrong there */
};

/* Walks every 512-byte header position from the start of the archive to
 * its end, as the installer does (it does not stop at the end-of-archive
 * blocks), and stops at the first header that the installer must not
 * trust: a failed header checksum, a negative size, data past the end,
 * a long name over 510 characters or a ".." component. */
void walkArchive(const unsigned char *data, size_t size, TarWalk &walk);

/* The lines of `tar -tv` for the entries (GNU tar's layout: mode string,
 * owner/group, size in a column that widens as needed, local time to the
 * minute, the name quoted as tar quotes it in the C locale). */
std::vector<std::string> listingLines(const std::vector<TarEntry> &entries);

/* Archives the contents of dir with GNU tar (GNU format, names sorted,
 * owner and group 0, modes normalised, hard links stored as files,
 * 10,240-byte records, every modification time from SOURCE_DATE_EPOCH
 * when it is set).  Returns true with the archive in out, or false with
 * the reason in error. */
bool archiveDirectory(const std::string &dir, std::vector<unsigned char> &out, std::string &error);

/* ---- The TAP file (elffile.cpp) ------------------------------------ */

/* A section as its header gives it. */
struct SectionInfo {
    bool present = false;
    unsigned long long offset = 0, size = 0, align = 0, flags = 0, addr = 0;
    unsigned type = 0;
};

/* What info, list and check read from a TAP file. */
struct TapFile {
    std::vector<unsigned char> bytes;  /* the whole file */
    std::string id, programName, author, description, version, buildDate; /* identity texts */
    bool hasId = false;
    uint32_t tapId = 0;
    SectionInfo payload, crc;
};

/* Reads path and its sections.  Returns false with the reason in error
 * when the file cannot be read or is no ELF file with a section table. */
bool readTap(const std::string &path, TapFile &tap, std::string &error);

/* Writes outPath: inPath with archive as its ".Payload" section (any
 * earlier ".Payload" and ".PayloadCRC" replaced), the CRC-32 of the
 * archive in ".PayloadCRC" before it, at a 4096-byte boundary after all
 * other contents and before the section-name table, symbol table and
 * string table.  Everything before the payload keeps its bytes.  Returns
 * false with the reason in error; outPath is then left as it was. */
bool packTap(const std::string &inPath, const std::vector<unsigned char> &archive, const std::string &outPath,
             std::string &error);

/* CRC-32 of a block of bytes, as zlib's crc32 computes it. */
uint32_t crc32Of(const unsigned char *data, size_t size);

#endif
