// Hashing of typed values: Hasher, CrcHasher, MD5 and MD5Hasher.
#ifndef VESK_HASH_HPP
#define VESK_HASH_HPP

#include "vesk/base.hpp"

namespace vesk {

/// The MD5 message digest of RFC 1321, fed incrementally. The 128-bit result is handed out as
/// the four chaining words A, B, C, D; the standard's 16-byte digest is those words, each
/// written least significant byte first. One thread at a time per engine.
class VESK_API MD5 : public AllocatorBase {
public:
  /// An engine in the initial state of RFC 1321, with nothing fed and not hashed.
  MD5();
  /// Copies every member, the partial block and the hashed mark included.
  MD5(const MD5& other);
  /// Copies every member, the partial block and the hashed mark included; returns `*this`.
  MD5& operator=(const MD5& other);
  /// Does nothing: the engine owns no resource.
  ~MD5();

  /// Feeds the bytes of [begin, end). Whole 64-byte blocks are compressed straight from the
  /// caller's memory; only the bytes of an incomplete block are kept. An empty range changes
  /// nothing.
  void addBytes(const unsigned char* begin, const unsigned char* end);
  /// Pads the message, appends its length in bits and writes A, B, C, D to digest[0..3].
  /// The engine is not reset: further bytes continue the padded message, and a later hashIt
  /// finishes that longer message. `digest` must have room for four words.
  void hashIt(unsigned int* digest);
  /// True once hashIt has run on this engine (or on the engine it was copied from).
  bool isHashed() const;

private:
  // Compresses one 64-byte block into mState.
  void transform(const unsigned char* block);
  // Writes each word of [begin, end) as 4 bytes, least significant byte first.
  static void encode(unsigned char* out, const unsigned int* begin, const unsigned int* end);
  // Reads each 4 bytes of [begin, end) as one word, least significant byte first.
  static void decode(unsigned int* out, const unsigned char* begin, const unsigned char* end);

  unsigned int mState[4];
  unsigned int mCount[2];  // bits fed so far, modulo 2^64: low word, then high word
  unsigned char mBuffer[64];
  bool mHashed;

  static const unsigned char smPadding[64];
};

}  // namespace vesk

extern "C" {

/// Writes the MD5 digest of the bytes [begin, end) to digest[0..3] as the words A, B, C, D
/// (the empty message gives 0xd98c1dd4, 0x04b2008f, 0x980980e9, 0x7e42f8ec). Allocates nothing
/// and may run on any number of threads at once.
VESK_API void vesk_md5_bytes(const unsigned char* begin, const unsigned char* end,
                             unsigned int* digest);

}  // extern "C"

#endif
