#pragma once
// The update files' check sum: the CRC-32 table entries of the bytes added up (not a CRC).
// It ignores the order of the bytes: use it only where files and peers rely on it.
#include <cstdint>
#include <string_view>

// The sum, modulo 2^32 and read as a signed 32-bit integer, of the entries of the standard
// CRC-32 lookup table (reflected IEEE 802.3 polynomial) indexed by each byte; 0 for "".
int32_t TextChecksum(std::string_view text);
// The standard CRC-32 lookup table.
const uint32_t* Crc32Table();
