// MD5 and CRC hashes of bytes and of typed values.
#include <vesk/hash.hpp>

#include <cstdio>
#include <string>
#include <vector>

int main() {
  // The digest as md5sum prints it: the four words, each least significant byte first.
  std::printf("%s\n", vesk::md5_hex_of("abc").c_str());  // 900150983cd24fb0d6963f7d28e17f72

  // Typed values go in as a fixed, host-independent byte stream: a checksum of an array and
  // its shape is the same on every machine.
  const vesk::Dimension shape(1, 3);
  const double values[3] = {0.5, 1.5, 2.5};
  vesk::CrcHasher crc;
  crc.addValue(shape);
  crc.addData(vesk::DataTypeId::REAL, shape.getNumElements(), values);
  std::printf("crc %08x\n", crc.getHash());

  vesk::MD5Hasher md5;
  md5.addValue(std::string("units"));
  md5.addValue(42);
  std::vector<unsigned int> digest;
  md5.hashValue(digest);  // four words, as vesk_md5_bytes gives
  std::printf("md5 %s\n", vesk::md5_hex(digest.data()).c_str());
}
