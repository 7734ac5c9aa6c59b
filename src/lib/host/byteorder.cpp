// Byte order: big-endian (network order) values to host order and back.
// Sources and destinations may be unaligned, as points inside a mapped
// shoreline file are.

#include <stdint.h>
#include <string.h>

#include "hostkit.h"

namespace {

template <typename T>
void swap_each(unsigned char *dst, const unsigned char *src, long n)
{
    for (long i = 0; i < n; i++) {
        T v;
        memcpy(&v, src + i * sizeof(T), sizeof(T));
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        v = sizeof(T) == 4 ? static_cast<T>(__builtin_bswap32(static_cast<uint32_t>(v)))
                           : static_cast<T>(__builtin_bswap16(static_cast<uint16_t>(v)));
#endif
        memcpy(dst + i * sizeof(T), &v, sizeof(T));
    }
}

}  // namespace

extern "C" {

void N2H4(unsigned char *dst, const unsigned char *src, long n) { swap_each<uint32_t>(dst, src, n); }
void N2H2(unsigned char *dst, const unsigned char *src, long n) { swap_each<uint16_t>(dst, src, n); }
void H2N4(unsigned char *dst, const unsigned char *src, long n) { swap_each<uint32_t>(dst, src, n); }
void H2N2(unsigned char *dst, const unsigned char *src, long n) { swap_each<uint16_t>(dst, src, n); }

}  // extern "C"
