// CrcHasher: the host's 32-bit hash chained over the blocks of the typed-value stream.
#include "vesk/hash.hpp"

#include "vesk/host/host_util.h"

namespace vesk {

CrcHasher::CrcHasher(unsigned int seed) : mHash(seed) {}

CrcHasher::CrcHasher(const CrcHasher& other) = default;

CrcHasher& CrcHasher::operator=(const CrcHasher& other) = default;

CrcHasher::~CrcHasher() = default;

unsigned int CrcHasher::getHash() {
  flush();
  return mHash;
}

void CrcHasher::hashValue(std::vector<unsigned int>& result) {
  // Resized first: if that throws, nothing has been handed over yet.
  result.resize(1);
  flush();
  result[0] = mHash;
  mHash = 0;
}

void CrcHasher::hashBytes(const unsigned char* begin, const unsigned char* end) {
  // A block never exceeds the 1024-byte buffer, so its size fits the host's 32-bit count.
  mHash = host_hash_n_bytes(mHash, static_cast<unsigned int>(end - begin), begin);
}

}  // namespace vesk
