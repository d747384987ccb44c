/*
 * crctime ARCHIVE [ROUNDS]: how long the installer's payload checksum
 * takes over the bytes of ARCHIVE, as the installer computes it before it
 * writes anything.  Prints the CRC-32 in hex and the fastest of ROUNDS
 * rounds (default 5) in milliseconds, on one line.  A program of each
 * build for `make bench`; the receiver build's runs under qemu-mipsel.
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "Zephyrdesk-Install.h"

static double milliseconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: crctime ARCHIVE [ROUNDS]\n");
        return 2;
    }
    int rounds = argc == 3 ? atoi(argv[2]) : 5;
    int fd = open(argv[1], O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size <= 0 || rounds < 1) {
        perror(argv[1]);
        return 1;
    }
    void *data = mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (data == MAP_FAILED) {
        perror("mmap");
        return 1;
    }
    dword crc = 0;
    double best = 0;
    for (int i = 0; i < rounds; i++) {
        double start = milliseconds();
        crc = payloadCRC32(data, (dword)st.st_size);
        double took = milliseconds() - start;
        if (i == 0 || took < best) best = took;
    }
    printf("%08X %.2f\n", (unsigned)crc, best);
    return 0;
}
