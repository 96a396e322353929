/* tarsk4-machine: creates, changes and shows simulated Windows machines, and
 * restarts them as Windows would. */
#ifndef TARSK4_MACHINE_TOOL_H
#define TARSK4_MACHINE_TOOL_H

#include <stddef.h>
#include <stdint.h>

#include <string>

/* The worm's signature: CRC-32 of a file's first 32,768 bytes. */
static const size_t machine_signature_window = 32768;
static const uint32_t machine_worm_crc = 0xEDE3E41Du;
static const size_t machine_worm_file_size = 40000;

uint32_t machine_crc32_update(uint32_t reg, const void *data, size_t size);
uint32_t machine_crc32(const void *data, size_t size);

/* A harmless file of `size` bytes (at least the window) with the signature. */
bool machine_worm_bytes(size_t size, std::string *bytes);

/* The whole tool; returns its exit code (0, 1 error, 2 usage). */
int machine_tool_main(int argc, char **argv);

#endif
