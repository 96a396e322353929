/* CRC-32 of byte ranges, for file signatures.
 *
 * The standard reflected CRC-32 (ISO-HDLC, as in IEEE 802.3 and zip):
 * polynomial 0x04C11DB7 taken bit-reversed (0xEDB88320), register preset to
 * all ones and inverted at the end. "123456789" gives 0xCBF43926.
 * One process-wide register: one CRC at a time.
 */
#ifndef TARSK4_FILESVC_CRC32_H
#define TARSK4_FILESVC_CRC32_H

#include <stdint.h>

extern uint32_t crc32_table[256];
extern uint32_t crc32_register;

/* Fills crc32_table; run once before any update. */
void crc32_build_table(void);

/* Starts a CRC: the register becomes the bitwise NOT of `seed` (the program
 * passes 0). */
void crc32_reset(uint32_t seed);

/* Folds `length` bytes into the register; returns `length`. */
uint32_t crc32_update(const void *bytes, uint32_t length);

/* The CRC so far (the register's NOT); the register is left as it is. */
uint32_t crc32_final(void);

#endif
