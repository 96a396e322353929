#include "filesvc/crc32.h"

uint32_t crc32_table[256];
uint32_t crc32_register;

/* Entry i is the remainder of i (as 8 reflected message bits) divided by the
 * reflected polynomial: feed the 8 bits of i, low bit first, into a zero
 * register, subtracting (XOR) the polynomial whenever the bit falling out of
 * the register's low end differs from the data bit. This is the same table
 * as the usual r = i; 8 times r = (r >> 1) ^ (r & 1 ? poly : 0). */
void crc32_build_table(void) {
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t r = 0;
        uint32_t d = i;
        for (int bit = 0; bit < 8; bit++) {
            uint32_t b = (d ^ r) & 1;
            r >>= 1;
            if (b)
                r ^= 0xEDB88320u;
            d >>= 1;
        }
        crc32_table[i] = r;
    }
}

void crc32_reset(uint32_t seed) {
    crc32_register = ~seed;
}

/* One table step a byte: the low byte of the register, mixed with the input
 * byte, selects the remainder that the 8 bits shifted out leave behind. */
uint32_t crc32_update(const void *bytes, uint32_t length) {
    const unsigned char *p = (const unsigned char *)bytes;
    uint32_t r = crc32_register;
    for (uint32_t i = 0; i < length; i++)
        r = (r >> 8) ^ crc32_table[(r ^ p[i]) & 0xFF];
    crc32_register = r;
    return length;
}

uint32_t crc32_final(void) {
    return ~crc32_register;
}
