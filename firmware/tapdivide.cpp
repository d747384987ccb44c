/*
 * The 64-bit division and shift helpers that GCC calls on 32-bit MIPS (the
 * shifts when it optimises for size), built for the MIPS32 base
 * instruction set like the rest of a receiver TAP.  The
 * toolchain's own libgcc.a is built for MIPS32 release 2, and any of its
 * members linked in would mark the TAP file for release 2, so add_tap links
 * these ahead of it.  They live inside the TAP (hidden), need nothing from
 * the receiver, and use only 32-bit division and 64-bit shifts, adds and
 * compares, which the compiler does inline.  On a 64-bit PC nothing calls
 * them, so no TAP links them there.
 */
#include <stdint.h>

#define TAP_HELPER extern "C" __attribute__((visibility("hidden")))

/* A 64-bit value as its two 32-bit halves (the receiver is little-endian). */
typedef union {
    uint64_t all;
    struct {
        uint32_t low, high;
    } half;
} Halves;

/* a shifted left by 0..63 bits, from 32-bit shifts only. */
TAP_HELPER uint64_t __ashldi3(uint64_t a, int bits)
{
    Halves x, r;
    x.all = a;
    if (bits == 0) return a;
    if (bits >= 32) {
        r.half.low = 0;
        r.half.high = x.half.low << (bits - 32);
    } else {
        r.half.low = x.half.low << bits;
        r.half.high = x.half.high << bits | x.half.low >> (32 - bits);
    }
    return r.all;
}

/* a shifted right by 0..63 bits, zeros coming in. */
TAP_HELPER uint64_t __lshrdi3(uint64_t a, int bits)
{
    Halves x, r;
    x.all = a;
    if (bits == 0) return a;
    if (bits >= 32) {
        r.half.high = 0;
        r.half.low = x.half.high >> (bits - 32);
    } else {
        r.half.high = x.half.high >> bits;
        r.half.low = x.half.low >> bits | x.half.high << (32 - bits);
    }
    return r.all;
}

/* a shifted right by 0..63 bits, copies of the sign bit coming in. */
TAP_HELPER int64_t __ashrdi3(int64_t a, int bits)
{
    Halves x, r;
    x.all = (uint64_t)a;
    if (bits == 0) return a;
    int32_t high = (int32_t)x.half.high;
    if (bits >= 32) {
        r.half.high = (uint32_t)(high >> 31);
        r.half.low = (uint32_t)(high >> (bits - 32));
    } else {
        r.half.high = (uint32_t)(high >> bits);
        r.half.low = x.half.low >> bits | x.half.high << (32 - bits);
    }
    return (int64_t)r.all;
}

/* Leading zero bits of a non-zero 64-bit value. */
static int leadingZeros(uint64_t value)
{
    uint32_t high = (uint32_t)(value >> 32);
    return high ? __builtin_clz(high) : 32 + __builtin_clz((uint32_t)value);
}

/* n / d with the remainder in *remainder.  A zero divisor traps, as the
 * compiler's own 32-bit division does. */
static uint64_t divideUnsigned(uint64_t n, uint64_t d, uint64_t *remainder)
{
    if (d == 0) __builtin_trap();
    if ((n >> 32) == 0) { /* then d fits too, or it is above n */
        if (d > n) {
            *remainder = n;
            return 0;
        }
        *remainder = (uint32_t)n % (uint32_t)d;
        return (uint32_t)n / (uint32_t)d;
    }
    if (d > n) {
        *remainder = n;
        return 0;
    }
    int shift = leadingZeros(d) - leadingZeros(n);
    d <<= shift;
    uint64_t quotient = 0;
    for (int bit = 0; bit <= shift; bit++) {
        quotient <<= 1;
        if (n >= d) {
            n -= d;
            quotient |= 1;
        }
        d >>= 1;
    }
    *remainder = n;
    return quotient;
}

static uint64_t magnitude(int64_t value) { return value < 0 ? 0 - (uint64_t)value : (uint64_t)value; }

/* Unsigned quotient. */
TAP_HELPER uint64_t __udivdi3(uint64_t n, uint64_t d)
{
    uint64_t remainder;
    return divideUnsigned(n, d, &remainder);
}

/* Unsigned remainder. */
TAP_HELPER uint64_t __umoddi3(uint64_t n, uint64_t d)
{
    uint64_t remainder;
    divideUnsigned(n, d, &remainder);
    return remainder;
}

/* Signed quotient, rounded toward zero. */
TAP_HELPER int64_t __divdi3(int64_t n, int64_t d)
{
    uint64_t remainder;
    uint64_t quotient = divideUnsigned(magnitude(n), magnitude(d), &remainder);
    return (int64_t)((n < 0) != (d < 0) ? 0 - quotient : quotient);
}

/* Signed remainder, with the sign of the dividend. */
TAP_HELPER int64_t __moddi3(int64_t n, int64_t d)
{
    uint64_t remainder;
    divideUnsigned(magnitude(n), magnitude(d), &remainder);
    return (int64_t)(n < 0 ? 0 - remainder : remainder);
}
