/* Harmless files that carry the worm's signature: the CRC-32 of their first
 * 32,768 bytes is the one the repair program looks for.
 *
 * CRC-32 (reflected, polynomial 0xEDB88320, register preset and final xor
 * 0xFFFFFFFF) is linear over GF(2). Feeding four bytes b0..b3 to the
 * register r amounts to r ^= (b0 | b1 << 8 | b2 << 16 | b3 << 24) followed
 * by 32 single-bit steps, each "shift right, xor the polynomial if the bit
 * shifted out was 1". That step can be run backwards: the polynomial has its
 * top bit set and a right shift clears it, so the top bit after a step tells
 * whether the polynomial went in. So to make the register end as T after the
 * last four bytes of the window, run the 32 steps backwards from T to get U,
 * and choose the four bytes as U ^ (the register before them).
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "machine_tool.h"

static const uint32_t crc_polynomial = 0xEDB88320u;

static uint32_t crc_step_bits(uint32_t reg, int bits) {
    for (int i = 0; i < bits; i++)
        reg = (reg & 1u) ? (reg >> 1) ^ crc_polynomial : reg >> 1;
    return reg;
}

static uint32_t crc_unstep_bits(uint32_t reg, int bits) {
    for (int i = 0; i < bits; i++)
        reg = (reg & 0x80000000u) ? ((reg ^ crc_polynomial) << 1) | 1u : reg << 1;
    return reg;
}

uint32_t machine_crc32_update(uint32_t reg, const void *data, size_t size) {
    static uint32_t table[256];
    static bool ready;
    if (!ready) {
        for (uint32_t i = 0; i < 256; i++)
            table[i] = crc_step_bits(i, 8);
        ready = true;
    }
    const unsigned char *bytes = (const unsigned char *)data;
    for (size_t i = 0; i < size; i++)
        reg = table[(reg ^ bytes[i]) & 0xFFu] ^ (reg >> 8);
    return reg;
}

uint32_t machine_crc32(const void *data, size_t size) {
    return machine_crc32_update(0xFFFFFFFFu, data, size) ^ 0xFFFFFFFFu;
}

bool machine_worm_bytes(size_t size, std::string *bytes) {
    static const char filler[] = "TARSK4 TEST FILE - NOT A PROGRAM\r\n";
    if (size < machine_signature_window)
        return false;
    bytes->clear();
    bytes->reserve(size);
    while (bytes->size() < size)
        bytes->append(filler, strlen(filler));
    bytes->resize(size);

    const size_t patch = machine_signature_window - 4;
    uint32_t before = machine_crc32_update(0xFFFFFFFFu, bytes->data(), patch);
    uint32_t wanted = machine_worm_crc ^ 0xFFFFFFFFu;
    uint32_t word = crc_unstep_bits(wanted, 32) ^ before;
    for (int i = 0; i < 4; i++)
        (*bytes)[patch + (size_t)i] = (char)(word >> (8 * i));
    return true;
}
