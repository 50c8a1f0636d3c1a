// Hashing of typed values: Hasher, CrcHasher, MD5 and MD5Hasher.
#ifndef VESK_HASH_HPP
#define VESK_HASH_HPP

#include "vesk/base.hpp"
#include "vesk/data.hpp"

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

/// Empty marker type; hashing one is a programming error that Hasher::addValue reports.
struct NullSize {};

/// Abstract base of the library's hashers. Every value fed is turned into a fixed,
/// host-independent byte stream (integers most significant byte first, floating-point values by
/// bit pattern, no tags or lengths between values) that is cut into 1024-byte blocks at stream
/// offsets 0, 1024, 2048, ... and handed to the derived algorithm. One thread at a time.
class VESK_API Hasher : public AllocatorBase {
public:
  /// An empty stream: nothing buffered.
  Hasher();
  /// Takes the source's buffered bytes; the copy then continues independently.
  Hasher(const Hasher& other);
  /// Takes the source's buffered bytes; returns `*this`.
  Hasher& operator=(const Hasher& other);
  /// Drops any buffered bytes without handing them over.
  virtual ~Hasher();

  /// Finishes the hash and writes it to `result`; the derived class fixes its size and form.
  virtual void hashValue(std::vector<unsigned int>& result) = 0;

  /// Feeds the bytes of [begin, end) unchanged, in address order. Precondition: `begin` is not
  /// after `end` (checked by an assertion in debug builds).
  void addBytes(const unsigned char* begin, const unsigned char* end);
  /// Feeds the bytes of `bytes` unchanged, as addBytes of their range does.
  void addBytes(std::string_view bytes) {
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
    addBytes(begin, begin + bytes.size());
  }
  /// Feeds the 1 byte of `v`.
  void addValue(const char& v);
  /// Feeds the 1 byte of `v`.
  void addValue(const unsigned char& v);
  /// Feeds 1 byte: 0x01 for true, 0x00 for false.
  void addValue(const bool& v);
  /// Feeds the 16-bit pattern of `v`, most significant byte first.
  void addValue(const short& v);
  /// Feeds `v` as 2 bytes, most significant byte first.
  void addValue(const unsigned short& v);
  /// Feeds the 32-bit two's-complement pattern of `v`, most significant byte first.
  /// Inline: a loop of values costs no call per value.
  void addValue(const int& v) { addWord(static_cast<unsigned int>(v)); }
  /// Feeds `v` as 4 bytes, most significant byte first. Inline, as addValue(int).
  void addValue(const unsigned int& v) { addWord(v); }
  /// Feeds 4 bytes as addValue(int) when `v` fits 32 bits signed; otherwise 8 bytes: the low
  /// 32 bits of the pattern, then the high 32 bits, each most significant byte first.
  void addValue(const long long& v);
  /// Feeds 4 bytes as addValue(unsigned int) when `v` < 2^32; otherwise 8 bytes: the low
  /// 32 bits, then the high 32 bits, each most significant byte first.
  void addValue(const unsigned long long& v);
  /// Feeds the IEEE single pattern as 4 bytes: bits 8-15, 0-7, 24-31, 16-23 (low half first,
  /// each half most significant byte first). -0.0 and NaNs are fed by their bits.
  void addValue(const float& v);
  /// Feeds the IEEE double pattern as 8 bytes: the low word, then the high word, each most
  /// significant byte first. -0.0 and NaNs are fed by their bits.
  void addValue(const double& v);
  /// Feeds the characters of `s` before its terminating NUL; a null `s` feeds nothing.
  void addValue(const char* s);
  /// Feeds the s.size() characters of `s`, with no terminator or length.
  void addValue(const std::string& s);
  /// Feeds 8 bytes: d.m(), then d.n(), each most significant byte first.
  void addValue(const Dimension& d);
  /// A programming error: reports "shouldn't get here" through vesk_assertion and, if that
  /// returns, feeds 4 zero bytes.
  void addValue(const NullSize& v);
  /// Feeds the `count` elements at `data` one after another: LOGICAL and STRING bytes unchanged,
  /// REAL as addValue(double), INTEGER as addValue(int), UINTEGER as addValue(unsigned int).
  /// Any other `type` is reported through vesk_assertion and feeds nothing. Precondition:
  /// `data` holds `count` elements of `type`, and is null only when `count` is 0 (checked by
  /// an assertion in debug builds).
  void addData(DataTypeId::Type type, unsigned int count, const void* data);

protected:
  /// Hands the buffered bytes (0 to 1023 of them, possibly none) to the algorithm and empties
  /// the buffer. Derived classes call it before reading their result.
  void flush();

private:
  // Turns `count` whole elements at `in` into their stream form at `out`.
  using Encoder = void (*)(unsigned char* out, const unsigned char* in, std::size_t count);

  // Consumes one block of the stream: a full 1024-byte block, or the partial block of a flush.
  virtual void hashBytes(const unsigned char* begin, const unsigned char* end) = 0;

  // Feeds a 32-bit word most significant byte first. The buffer is never left full, so the
  // inline path needs more than 4 bytes of room; the rest goes through addWordSlow.
  void addWord(unsigned int word) {
    if (mEnd - mCurrent > 4) {
      mCurrent[0] = static_cast<unsigned char>(word >> 24);
      mCurrent[1] = static_cast<unsigned char>(word >> 16);
      mCurrent[2] = static_cast<unsigned char>(word >> 8);
      mCurrent[3] = static_cast<unsigned char>(word);
      mCurrent += 4;
    } else {
      addWordSlow(word);
    }
  }
  // Feeds a word that reaches the end of the buffer.
  void addWordSlow(unsigned int word);
  // Feeds a value's encoding of at most 8 bytes.
  void append(const unsigned char* bytes, std::size_t count);
  // Feeds `count` elements of `size` bytes, encoding them straight into the buffer.
  void addElements(const unsigned char* data, std::size_t count, std::size_t size, Encoder encode);

  unsigned char* mCurrent;
  unsigned char* mEnd;
  unsigned char mBuffer[1024];
};

/// A Hasher that chains the host's 32-bit hash over the blocks of the stream:
/// h = host_hash_n_bytes(h, block size, block) for every block, starting from the seed.
class VESK_API CrcHasher : public Hasher {
public:
  /// An empty stream whose running value starts at `seed`.
  CrcHasher(unsigned int seed = 0);
  /// Takes the source's buffered bytes and running value.
  CrcHasher(const CrcHasher& other);
  /// Takes the source's buffered bytes and running value; returns `*this`.
  CrcHasher& operator=(const CrcHasher& other);
  /// Drops any buffered bytes.
  ~CrcHasher() override;

  /// Hands over the buffered bytes and returns the running value, which stays: feeding may
  /// continue from it.
  unsigned int getHash();
  /// Resizes `result` to one element, hands over the buffered bytes, stores the running value
  /// in result[0] and restarts the running value at 0 (not at the seed).
  void hashValue(std::vector<unsigned int>& result) override;

private:
  void hashBytes(const unsigned char* begin, const unsigned char* end) override;

  unsigned int mHash;
};

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
  ~MD5();  // NOLINT(performance-trivially-destructible): an exported symbol of the library

  /// Feeds the bytes of [begin, end). Whole 64-byte blocks are compressed straight from the
  /// caller's memory; only the bytes of an incomplete block are kept. An empty range changes
  /// nothing. Precondition: `begin` is not after `end` (checked by an assertion in debug
  /// builds).
  void addBytes(const unsigned char* begin, const unsigned char* end);
  /// Feeds the bytes of `bytes`, as addBytes of their range does.
  void addBytes(std::string_view bytes) {
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
    addBytes(begin, begin + bytes.size());
  }
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

/// A Hasher whose blocks go to an MD5 engine of its own. Its result continues from the
/// finished state: a second hashValue digests the first stream, its padding and length, and
/// what followed. Use a new MD5Hasher for a fresh digest.
class VESK_API MD5Hasher : public Hasher {
public:
  /// An empty stream and a new engine in host memory; throws std::bad_alloc when the host
  /// has no memory for the engine.
  MD5Hasher();
  /// Takes the source's buffered bytes and an engine of its own in the state of the source's;
  /// throws std::bad_alloc when the host has no memory for the engine.
  MD5Hasher(const MD5Hasher& other);
  /// Takes the source's buffered bytes and engine state, keeping its own engine; allocates
  /// nothing and cannot fail. Returns `*this`.
  MD5Hasher& operator=(const MD5Hasher& other);
  /// Destroys the engine; buffered bytes are dropped.
  ~MD5Hasher() override;

  /// Hands over the buffered bytes, resizes `result` to four elements and writes the digest
  /// words A, B, C, D to them.
  void hashValue(std::vector<unsigned int>& result) override;

private:
  MD5& getRec();
  void hashBytes(const unsigned char* begin, const unsigned char* end) override;

  MD5* mRec;
};

}  // namespace vesk

extern "C" {

/// Writes the MD5 digest of the bytes [begin, end) to digest[0..3] as the words A, B, C, D
/// (the empty message gives 0xd98c1dd4, 0x04b2008f, 0x980980e9, 0x7e42f8ec). Allocates nothing
/// and may run on any number of threads at once. Precondition: `begin` is not after `end`
/// (checked by an assertion in debug builds); both may be null for the empty message.
VESK_API void vesk_md5_bytes(const unsigned char* begin, const unsigned char* end,
                             unsigned int* digest);

}  // extern "C"

/// vesk_md5_bytes of the bytes of `bytes`.
inline void vesk_md5_bytes(std::string_view bytes, unsigned int* digest) {
  const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
  vesk_md5_bytes(begin, begin + bytes.size(), digest);
}

namespace vesk {

/// An MD5 digest as text: 32 lower-case hex digits and a NUL, held in place (nothing is
/// allocated), as md5sum prints it.
struct Md5Hex {
  /// The 32 digits, then a NUL.
  char digits[33];
  /// The digits, NUL-terminated.
  const char* c_str() const { return digits; }
  /// The 32 digits.
  operator std::string_view() const { return std::string_view(digits, 32); }
};

/// The digest words digest[0..3] (A, B, C, D) as text, each word least significant byte
/// first. The empty message's digest -> "d41d8cd98f00b204e9800998ecf8427e".
VESK_API Md5Hex md5_hex(const unsigned int* digest);

/// The MD5 of the bytes of `bytes` as text: "abc" -> "900150983cd24fb0d6963f7d28e17f72".
inline Md5Hex md5_hex_of(std::string_view bytes) {
  unsigned int digest[4];
  vesk_md5_bytes(bytes, digest);
  return md5_hex(digest);
}

/// An MD5 digest as a value: the words A, B, C, D that vesk_md5_bytes writes. Equal digests
/// compare equal and hash alike (std::hash<Md5Digest>), so digests key the standard
/// containers; hex() and operator<< give the text md5sum prints.
struct Md5Digest {
  /// A, B, C, D.
  unsigned int words[4];
  /// The 32 hex digits: the empty message's digest -> "d41d8cd98f00b204e9800998ecf8427e".
  Md5Hex hex() const { return md5_hex(words); }
};

/// True when all four words are equal.
inline bool operator==(const Md5Digest& a, const Md5Digest& b) {
  return a.words[0] == b.words[0] && a.words[1] == b.words[1] && a.words[2] == b.words[2] &&
         a.words[3] == b.words[3];
}
/// True when any word differs.
inline bool operator!=(const Md5Digest& a, const Md5Digest& b) { return !(a == b); }
/// Writes the 32 hex digits of digest.hex(), with no line end.
VESK_API std::ostream& operator<<(std::ostream& out, const Md5Digest& digest);

}  // namespace vesk

/// The MD5 of the bytes of `bytes` as a value: vesk_md5_bytes("abc").hex() ->
/// "900150983cd24fb0d6963f7d28e17f72".
inline vesk::Md5Digest vesk_md5_bytes(std::string_view bytes) {
  vesk::Md5Digest digest;
  vesk_md5_bytes(bytes, digest.words);
  return digest;
}

namespace vesk {

/// Writes the MD5 of the contents of the file at `path` to digest[0..3], the words that
/// vesk_md5_bytes gives for the same bytes (md5_hex(digest) is what md5sum prints). Unlike the
/// file functions of file.hpp, `path` is opened exactly as the system opens it, links followed:
/// '\' and ':' belong to names, so a TreeWalker's fullPath() digests that entry whatever its
/// name ("d/a\\b" is the file a\b in d, not b in d/a), and a path holding a NUL names no file
/// (EINVAL). Pipes and character devices (/dev/stdin) are read to their end; a signal that
/// interrupts their open or a read ends the call with EINTR, so that a caller's time limit ends
/// the wait for a pipe nobody writes (a regular file or block device is opened and read again).
/// Raises boost::filesystem::filesystem_error (a std::runtime_error) with the path and the
/// system's error number when the file cannot be opened or read (EISDIR for a directory);
/// std::bad_alloc when the host has no memory for the read buffer. `digest` must have room for
/// four words. May run on any number of threads at once.
VESK_API void md5_file(const std::string& path, unsigned int* digest);

/// md5_file(path, digest) as a value, for grouping files by digest:
/// std::unordered_map<Md5Digest, std::vector<std::string>> keyed by md5_file(path).
VESK_API Md5Digest md5_file(const std::string& path);

}  // namespace vesk

namespace std {

/// The hash of an Md5Digest, so that digests key the standard unordered containers.
template <>
struct hash<vesk::Md5Digest> {
  /// The digest's first 64 bits (32 where size_t is 32 bits wide): MD5 has mixed them already.
  std::size_t operator()(const vesk::Md5Digest& digest) const noexcept {
    return std::size_t{digest.words[0]} | (std::size_t{digest.words[1]} << 16 << 16);
  }
};

}  // namespace std

#endif
