// Shared by the tests and the benchmarks: texts of a chosen CRC-32, as an input can make them to
// flood one bucket.
#ifndef VESK_TESTING_CRC32_FORGE_HPP
#define VESK_TESTING_CRC32_FORGE_HPP

#include <cstdint>
#include <string>

namespace vesk::testing {

/// `prefix` and four more bytes, chosen so that the whole has the CRC-32 `crc` (zlib's
/// crc32(0, ...), the host hash): the CRC is linear, so the register that gives `crc` is run
/// backwards to the four table rows the last bytes must select.
inline std::string with_crc32(std::string prefix, std::uint32_t crc) {
  std::uint32_t table[256];
  unsigned char rowOfTopByte[256];
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t row = i;
    for (int bit = 0; bit < 8; ++bit)
      row = (row & 1) != 0 ? (row >> 1) ^ 0xEDB88320u : row >> 1;
    table[i] = row;
    rowOfTopByte[row >> 24] = static_cast<unsigned char>(i);  // the top bytes are all distinct
  }
  std::uint32_t state = 0xFFFFFFFFu;
  for (const char c : prefix)
    state = (state >> 8) ^ table[(state ^ static_cast<unsigned char>(c)) & 0xFFu];
  // Each step puts its row's top byte on top of the register, so the wanted register names
  // the last row, and with it the top bytes of the register before.
  unsigned char rows[4];
  std::uint32_t wanted = ~crc;
  for (int i = 3; i >= 0; --i) {
    rows[i] = rowOfTopByte[wanted >> 24];
    wanted = (wanted ^ table[rows[i]]) << 8;
  }
  for (const unsigned char row : rows) {
    prefix += static_cast<char>((state ^ row) & 0xFFu);
    state = (state >> 8) ^ table[row];
  }
  return prefix;
}

}  // namespace vesk::testing

#endif
