// Reference decodings from glibc's iconv, for checking the character
// tables against the published mappings.  In the process when glibc finds
// its converters; otherwise (the receiver build under qemu-mipsel has no
// target gconv modules) through the PC's iconv program, which the emulated
// process can still start.
#ifndef TESTS_SUPPORT_ICONV_REFERENCE_H
#define TESTS_SUPPORT_ICONV_REFERENCE_H

#include <errno.h>
#include <iconv.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace iconvref {

inline std::vector<uint32_t> fromUtf32le(const std::string &bytes) {
    std::vector<uint32_t> codePoints;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
        codePoints.push_back((uint32_t)(unsigned char)bytes[i] | (uint32_t)(unsigned char)bytes[i + 1] << 8 |
                             (uint32_t)(unsigned char)bytes[i + 2] << 16 |
                             (uint32_t)(unsigned char)bytes[i + 3] << 24);
    return codePoints;
}

// Lets a receiver build find the target's converters if they are there;
// must run before the first iconv_open of the process.
inline void findConverters() {
#if defined(__mips__)
    static bool done = false;
    if (done || getenv("GCONV_PATH")) return;
    done = true;
    const char *candidates[] = {"/usr/mipsel-linux-gnu/lib/gconv", "/usr/lib/mipsel-linux-gnu/gconv"};
    for (const char *dir : candidates) {
        struct stat st;
        if (stat((std::string(dir) + "/gconv-modules").c_str(), &st) == 0) {
            setenv("GCONV_PATH", dir, 1);
            return;
        }
    }
#endif
}

// One input through iconv(3); empty when the input is no valid text.
inline std::vector<uint32_t> decodeInProcess(iconv_t cd, const std::string &input) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string in = input, out(4 * input.size() + 16, '\0');
    char *inp = &in[0], *outp = &out[0];
    size_t inLeft = in.size(), outLeft = out.size();
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == (size_t)-1) return {};
    if (iconv(cd, nullptr, nullptr, &outp, &outLeft) == (size_t)-1) return {};
    out.resize(out.size() - outLeft);
    return fromUtf32le(out);
}

// All inputs through one run of the iconv program, one per line, invalid
// bytes dropped (-c).  No input may hold a line feed.
inline std::vector<std::vector<uint32_t>> decodeWithProgram(const std::string &charset,
                                                             const std::vector<std::string> &inputs) {
    char inName[] = "/tmp/iconvref-in-XXXXXX";
    int fd = mkstemp(inName);
    if (fd < 0) throw std::runtime_error("no temporary file");
    close(fd);
    std::string outName = std::string(inName) + ".out";
    {
        std::ofstream in(inName, std::ios::binary);
        for (const std::string &s : inputs) {
            if (s.find('\n') != std::string::npos) throw std::logic_error("input holds a line feed");
            in << s << '\n';
        }
    }
    std::string cmd = "iconv -c -f '" + charset + "' -t UTF-32LE '" + inName + "' > '" + outName + "' 2>/dev/null";
    int status = system(cmd.c_str());
    (void)status;  // -c exits with 1 once it dropped a byte
    std::ifstream outFile(outName, std::ios::binary);
    std::ostringstream s;
    s << outFile.rdbuf();
    unlink(inName);
    unlink(outName.c_str());
    std::vector<std::vector<uint32_t>> results(1);
    for (uint32_t c : fromUtf32le(s.str())) {
        if (c == '\n') results.emplace_back();
        else results.back().push_back(c);
    }
    results.pop_back();  // after the last line feed
    if (results.size() != inputs.size())
        throw std::runtime_error("iconv program gave " + std::to_string(results.size()) + " lines for " +
                                 std::to_string(inputs.size()) + " inputs of " + charset);
    return results;
}

// Each input decoded from charset to code points on its own; an input that
// is no valid text in charset gives no code points (or, through the
// program, only those of its valid bytes).
inline std::vector<std::vector<uint32_t>> decodeEach(const std::string &charset,
                                                      const std::vector<std::string> &inputs) {
    findConverters();
    iconv_t cd = iconv_open("UTF-32LE", charset.c_str());
    if (cd == (iconv_t)-1) return decodeWithProgram(charset, inputs);
    std::vector<std::vector<uint32_t>> results;
    for (const std::string &input : inputs) results.push_back(decodeInProcess(cd, input));
    iconv_close(cd);
    return results;
}

}  // namespace iconvref

#endif
