// Small helpers for the tests of the character conversions.
#ifndef TESTS_SUPPORT_TEXT_HELPERS_H
#define TESTS_SUPPORT_TEXT_HELPERS_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "support/velalib.h"

// A byte string with its embedded zero bytes: "\x10\x00\x05"_b.
inline std::string operator""_b(const char *s, size_t n) { return std::string(s, n); }

// The bytes as lower-case hexadecimal pairs, for messages.
inline std::string hex(const std::string &bytes) {
    std::string s;
    char b[4];
    for (unsigned char c : bytes) {
        snprintf(b, sizeof b, "%02x ", c);
        s += b;
    }
    return s.empty() ? "(empty)" : s.substr(0, s.size() - 1);
}

// How often needle occurs in haystack.
inline size_t count(const std::string &haystack, const std::string &needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) n++;
    return n;
}

// The time stamp that the library writes for the receiver's clock, which
// stands at 2016-02-29 13:05:09 in the fixture.
inline std::string stamp() {
    byte second = 0;
    char text[40];
    dword now = Now(&second);
    TimeFormat(now, second, TIMESTAMP_YMDHMS, text);
    EXPECT_EQ(0, strncmp(text, "2016-02-29 13:05", 16)) << text;
    return text;
}

#endif
