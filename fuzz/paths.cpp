/*
 * GetPathType and ConvertPathType on an arbitrary path, to every target
 * type and to two types that do not exist, with the working directory
 * one of four folders of the disk.  The disk holds folders and files of
 * its own, so that existing and missing paths of every kind occur.
 *
 * The first input byte picks the working directory, the rest is the path.
 * Checked besides: GetPathType gives 0 to 4; the destination of 512
 * bytes is always terminated; a directory result is empty or ends with
 * "/"; an unknown type writes nothing; converting in place (source and
 * destination the same buffer) gives what a separate buffer gets; and a
 * result that is already of the wanted type converts to itself.
 */
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzzreceiver.h"
#include "fuzzstrings.h"
#include "velalib.h"

static const char *const kFolders[] = {"/", "/ProgramFiles", "/ProgramFiles/Settings",
                                       "/ProgramFiles/Settings/Logs"};

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzStartReceiver();
    static const char *const files[] = {"/mnt/hd/ProgramFiles/Zephyrdesk.tap",
                                        "/mnt/hd/ProgramFiles/Settings/setup.ini",
                                        "/mnt/hd/ProgramFiles/Settings/Logs/Zephyrdesk-Install.log"};
    for (const char *file : files) {
        int fd = open(file, O_WRONLY | O_CREAT, 0666);
        FUZZ_CHECK(fd >= 0, "cannot make %s", file);
        close(fd);
    }
    FUZZ_CHECK(mkdir("/mnt/hd/ProgramFiles/AutoStart", 0777) == 0, "cannot make AutoStart");
    FUZZ_CHECK(symlink("Settings", "/mnt/hd/ProgramFiles/Link") == 0, "cannot make a link");
    return 0;
}

static void convert(const char *source, tPathType target, char *destination) {
    memset(destination, 0x5A, PATH_BUFFER_SIZE);
    ConvertPathType(source, destination, target);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const char *folder = kFolders[data[0] % (sizeof kFolders / sizeof kFolders[0])];
    // the stand-in's firmware answers 0 for a change it made (its default)
    FUZZ_CHECK(TAP_Hdd_ChangeDir(folder) == 0, "cannot change into %s", folder);
    char *path = fuzzSource(data + 1, size - 1);

    int type = GetPathType(path);
    FUZZ_CHECK(type >= PT_FileName && type <= PT_LinuxFile, "path type %d", type);

    char *result = (char *)malloc(PATH_BUFFER_SIZE);
    char *again = (char *)malloc(PATH_BUFFER_SIZE);
    char *inPlace = (char *)malloc(PATH_BUFFER_SIZE);
    for (int target = PT_FileName; target <= PT_LinuxFile; target++) {
        convert(path, (tPathType)target, result);
        size_t length = strnlen(result, PATH_BUFFER_SIZE);
        FUZZ_CHECK(length < PATH_BUFFER_SIZE, "type %d: no terminator", target);
        if (target == PT_TapDir || target == PT_LinuxDir)
            FUZZ_CHECK(length == 0 || result[length - 1] == '/', "type %d: directory \"%s\" without its slash",
                       target, result);
        if (strlen(path) < PATH_BUFFER_SIZE) {
            memset(inPlace, 0x5A, PATH_BUFFER_SIZE);
            strcpy(inPlace, path);
            ConvertPathType(inPlace, inPlace, (tPathType)target);
            FUZZ_CHECK(strcmp(inPlace, result) == 0, "type %d: in place \"%s\", else \"%s\"", target, inPlace,
                       result);
        }
        if (length > 0 && GetPathType(result) == target) {
            convert(result, (tPathType)target, again);
            FUZZ_CHECK(strcmp(again, result) == 0, "type %d: \"%s\" becomes \"%s\"", target, result, again);
        }
    }
    static const int unknownTypes[] = {5, 7};  // inside the enumeration's range, outside its names
    for (int target : unknownTypes) {
        convert(path, (tPathType)target, result);
        for (int i = 0; i < PATH_BUFFER_SIZE; i++)
            FUZZ_CHECK(result[i] == 0x5A, "unknown type %d wrote into the destination", target);
    }
    free(inPlace);
    free(again);
    free(result);
    free(path);
    return 0;
}
