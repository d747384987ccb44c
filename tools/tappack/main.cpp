/*
 * tappack: the installer's payload, packed and inspected.
 *
 *   tappack pack IN.tap (ARCHIVE.tar | DIR) OUT.tap
 *   tappack info FILE.tap
 *   tappack list FILE.tap
 *   tappack check FILE.tap
 *
 * Exit status 0 on success, 1 when a file cannot be read or written or
 * (check, list) is not a sound installer, 2 on a wrong command line.
 */
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tappack.h"

namespace {

const char *const USAGE =
    "usage: tappack pack IN.tap (ARCHIVE.tar | DIR) OUT.tap\n"
    "       tappack info FILE.tap\n"
    "       tappack list FILE.tap\n"
    "       tappack check FILE.tap\n";

/* What a TAP file's payload looks like: the file-level findings, the
 * first problem, and the archive walk. */
struct Inspection {
    TapFile tap;
    bool inside = false, aligned = false;
    bool crcReadable = false, crcMatches = false;
    uint32_t storedCrc = 0, computedCrc = 0;
    std::string fileProblem; /* first problem of the section itself, empty when whole */
    bool walked = false;
    TarWalk walk;
};

std::string hex(unsigned long long value, int digits = 0) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "0x%0*llX", digits, value);
    return buffer;
}

bool inspect(const std::string &path, Inspection &in, std::string &error) {
    if (!readTap(path, in.tap, error)) return false;
    const TapFile &t = in.tap;
    unsigned long long fileSize = t.bytes.size();
    if (!t.payload.present) {
        in.fileProblem = "no .Payload section";
        return true;
    }
    in.inside = t.payload.type != 8 /* SHT_NOBITS */ && t.payload.offset <= fileSize &&
                t.payload.size <= fileSize - t.payload.offset;
    in.aligned = t.payload.offset % PAYLOAD_ALIGNMENT == 0;
    if (t.crc.present && t.crc.size == 4 && t.crc.offset <= fileSize && 4 <= fileSize - t.crc.offset) {
        const unsigned char *b = t.bytes.data() + t.crc.offset;
        in.storedCrc = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
        in.crcReadable = true;
    }
    if (in.inside) {
        in.computedCrc = crc32Of(t.bytes.data() + t.payload.offset, (size_t)t.payload.size);
        in.crcMatches = in.crcReadable && in.storedCrc == in.computedCrc;
    }
    if (!in.inside)
        in.fileProblem = ".Payload lies outside the file (offset " + std::to_string(t.payload.offset) + ", " +
                         std::to_string(t.payload.size) + " bytes, file " + std::to_string(fileSize) + " bytes)";
    else if (!in.aligned)
        in.fileProblem = ".Payload offset " + std::to_string(t.payload.offset) + " (" + hex(t.payload.offset) +
                         ") is not a multiple of 4096";
    else if (t.crc.present && !in.crcReadable)
        in.fileProblem = ".PayloadCRC is not 4 bytes inside the file";
    else if (in.crcReadable && !in.crcMatches)
        in.fileProblem = "CRC mismatch: .Payload has CRC-32 " + hex(in.computedCrc, 8) + ", .PayloadCRC holds " +
                         hex(in.storedCrc, 8);
    if (in.inside) {
        walkArchive(t.bytes.data() + t.payload.offset, (size_t)t.payload.size, in.walk);
        in.walked = true;
    }
    return true;
}

/* The first problem of a file, or empty when it is a sound installer. */
std::string firstProblem(const Inspection &in) {
    if (!in.fileProblem.empty()) return in.fileProblem;
    if (in.walk.damaged)
        return "damaged archive at offset " + std::to_string(in.walk.problemOffset) + ": " + in.walk.problem;
    return "";
}

std::string counted(unsigned long long n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string archiveCounts(const TarWalk &w) {
    std::string s = counted(w.entries.size(), "entry", "entries") + ", " +
                    counted(w.directories, "directory", "directories") + ", " + counted(w.files, "file", "files") +
                    ", " + std::to_string(w.fileBytes) + " bytes of file data, " +
                    counted(w.longNames, "long name", "long names");
    if (w.others) s += ", " + counted(w.others, "other entry", "other entries") + " (not installed)";
    s += ", " + counted(w.emptyBlocks, "empty block", "empty blocks");
    return s;
}

int commandInfo(const std::string &path) {
    Inspection in;
    std::string error;
    if (!inspect(path, in, error)) {
        fprintf(stderr, "tappack: %s\n", error.c_str());
        return 1;
    }
    const TapFile &t = in.tap;
    printf("%s\n", path.c_str());
    printf("  TAP ID:       %s\n", t.hasId ? hex(t.tapId, 8).c_str() : "none (no 4-byte ._tap_id section)");
    printf("  program name: %s\n", t.programName.c_str());
    printf("  author:       %s\n", t.author.c_str());
    printf("  description:  %s\n", t.description.c_str());
    printf("  version:      %s\n", t.version.c_str());
    printf("  build date:   %s\n", t.buildDate.c_str());
    if (!t.payload.present) {
        printf("  payload:      none (no .Payload section)\n");
        return 0;
    }
    unsigned long long records = t.payload.size / TAR_RECORD, rest = t.payload.size % TAR_RECORD;
    std::string crc = in.crcReadable ? "CRC-32 " + hex(in.storedCrc, 8) : "no CRC (.PayloadCRC missing)";
    printf("  payload:      offset %llu (%s), %llu bytes, %s of %zu bytes%s, %s\n", t.payload.offset,
           hex(t.payload.offset).c_str(), t.payload.size, counted(records, "record", "records").c_str(), TAR_RECORD,
           rest ? (" and " + std::to_string(rest) + " bytes").c_str() : "", crc.c_str());
    if (in.fileProblem.empty())
        printf("  whole:        yes (inside the file, offset page-aligned, %s)\n",
               in.crcReadable ? "CRC matches" : "no CRC to compare");
    else
        printf("  whole:        no: %s\n", in.fileProblem.c_str());
    if (!in.walked) {
        printf("  archive:      not read (the section lies outside the file)\n");
        return 0;
    }
    printf("  archive:      %s\n", archiveCounts(in.walk).c_str());
    if (in.walk.damaged)
        printf("  damaged:      at offset %zu: %s\n", in.walk.problemOffset, in.walk.problem.c_str());
    return 0;
}

int commandList(const std::string &path) {
    Inspection in;
    std::string error;
    if (!inspect(path, in, error)) {
        fprintf(stderr, "tappack: %s\n", error.c_str());
        return 1;
    }
    if (!in.walked) {
        fprintf(stderr, "tappack: %s: %s\n", path.c_str(), in.fileProblem.c_str());
        return 1;
    }
    for (const std::string &line : listingLines(in.walk.entries)) printf("%s\n", line.c_str());
    if (in.walk.damaged) {
        fflush(stdout);
        fprintf(stderr, "tappack: %s: damaged archive at offset %zu: %s\n", path.c_str(), in.walk.problemOffset,
                in.walk.problem.c_str());
        return 1;
    }
    return 0;
}

int commandCheck(const std::string &path) {
    Inspection in;
    std::string error;
    if (!inspect(path, in, error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::string problem = firstProblem(in);
    if (!problem.empty()) {
        fprintf(stderr, "%s: %s\n", path.c_str(), problem.c_str());
        return 1;
    }
    printf("%s: sound installer (%zu entries, %s)\n", path.c_str(), in.walk.entries.size(),
           in.crcReadable ? ("CRC-32 " + hex(in.storedCrc, 8)).c_str() : "no CRC");
    return 0;
}

int commandPack(const std::string &inPath, const std::string &source, const std::string &outPath) {
    std::vector<unsigned char> archive;
    std::string error;
    struct stat st;
    if (stat(source.c_str(), &st) != 0) {
        fprintf(stderr, "tappack: %s: %s\n", source.c_str(), strerror(errno));
        return 1;
    }
    if (S_ISDIR(st.st_mode)) {
        if (!archiveDirectory(source, archive, error)) {
            fprintf(stderr, "tappack: %s\n", error.c_str());
            return 1;
        }
    } else {
        FILE *f = fopen(source.c_str(), "rb");
        if (!f) {
            fprintf(stderr, "tappack: %s: %s\n", source.c_str(), strerror(errno));
            return 1;
        }
        unsigned char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) archive.insert(archive.end(), buffer, buffer + n);
        bool failed = ferror(f);
        fclose(f);
        if (failed) {
            fprintf(stderr, "tappack: %s: read failed\n", source.c_str());
            return 1;
        }
    }
    if (!packTap(inPath, archive, outPath, error)) {
        fprintf(stderr, "tappack: %s\n", error.c_str());
        return 1;
    }
    // The file is written; say what the receiver would make of it.
    TarWalk walk;
    walkArchive(archive.data(), archive.size(), walk);
    if (walk.damaged)
        fprintf(stderr, "tappack: warning: %s: the installer stops at offset %zu of the archive: %s\n",
                outPath.c_str(), walk.problemOffset, walk.problem.c_str());
    if (walk.others)
        fprintf(stderr, "tappack: warning: %s: the installer creates only files and directories, not the "
                        "archive's %s\n", outPath.c_str(), counted(walk.others, "other entry", "other entries").c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 5 && strcmp(argv[1], "pack") == 0) return commandPack(argv[2], argv[3], argv[4]);
    if (argc == 3 && strcmp(argv[1], "info") == 0) return commandInfo(argv[2]);
    if (argc == 3 && strcmp(argv[1], "list") == 0) return commandList(argv[2]);
    if (argc == 3 && strcmp(argv[1], "check") == 0) return commandCheck(argv[2]);
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(USAGE, stdout);
        return 0;
    }
    fputs(USAGE, stderr);
    return 2;
}
