// MD5Hasher: the typed-value stream fed to an MD5 engine of its own.
#include "vesk/hash.hpp"

namespace vesk {

MD5Hasher::MD5Hasher() : mRec(new MD5) {}

MD5Hasher::MD5Hasher(const MD5Hasher& other)
    : Hasher(other), mRec(other.mRec != nullptr ? new MD5(*other.mRec) : nullptr) {}

MD5Hasher& MD5Hasher::operator=(const MD5Hasher& other) {
  if (this == &other)
    return *this;
  Hasher::operator=(other);
  if (other.mRec == nullptr) {
    delete mRec;
    mRec = nullptr;
  } else if (mRec != nullptr) {
    *mRec = *other.mRec;
  } else {
    mRec = new MD5(*other.mRec);
  }
  return *this;
}

MD5Hasher::~MD5Hasher() { delete mRec; }

MD5& MD5Hasher::getRec() { return *mRec; }

void MD5Hasher::hashBytes(const unsigned char* begin, const unsigned char* end) {
  // Without an engine (the host allocator was exhausted at construction) the blocks are lost.
  if (mRec != nullptr)
    getRec().addBytes(begin, end);
}

void MD5Hasher::hashValue(std::vector<unsigned int>& result) {
  flush();
  result.resize(4);
  if (mRec != nullptr)
    getRec().hashIt(result.data());
  else
    result.assign(4, 0u);
}

}  // namespace vesk
