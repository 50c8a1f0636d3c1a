// MD5Hasher: the typed-value stream fed to an MD5 engine of its own.
#include "vesk/hash.hpp"

#include <new>

namespace vesk {

namespace {

// The engine's class-specific new reports exhaustion with null; a hasher without an engine
// would drop every block and hand out a digest of nothing, so it is never made.
MD5* new_engine(const MD5* state) {
  MD5* engine = state != nullptr ? new MD5(*state) : new MD5;
  if (engine == nullptr)
    throw std::bad_alloc();
  return engine;
}

}  // namespace

MD5Hasher::MD5Hasher() : mRec(new_engine(nullptr)) {}

MD5Hasher::MD5Hasher(const MD5Hasher& other) : Hasher(other), mRec(new_engine(other.mRec)) {}

MD5Hasher& MD5Hasher::operator=(const MD5Hasher& other) {
  // Both engines exist, so the state is copied in place and nothing can fail.
  if (this != &other) {
    Hasher::operator=(other);
    *mRec = *other.mRec;
  }
  return *this;
}

MD5Hasher::~MD5Hasher() { delete mRec; }

MD5& MD5Hasher::getRec() { return *mRec; }

void MD5Hasher::hashBytes(const unsigned char* begin, const unsigned char* end) {
  getRec().addBytes(begin, end);
}

void MD5Hasher::hashValue(std::vector<unsigned int>& result) {
  flush();
  result.resize(4);
  getRec().hashIt(result.data());
}

}  // namespace vesk
