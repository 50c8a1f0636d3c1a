// Text services: C-string functions and printf-style output, std::string utilities.
#ifndef VESK_STRING_HPP
#define VESK_STRING_HPP

#include "vesk/base.hpp"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <list>
#include <string>
#include <string_view>
#include <vector>

extern "C" {

/// printf-style output to the host's output (standard output); returns the host's count.
VESK_API int vesk_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// As vesk_printf, with the arguments in `args`.
VESK_API int vesk_vprintf(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
/// Bounded printf-style output into `buffer` of `size` bytes (NUL-terminated when `size` is
/// not 0); returns the length of the full output. Sizes above 4 GiB - 1 are taken as that.
VESK_API int vesk_snprintf(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
/// As vesk_snprintf, with the arguments in `args`.
VESK_API int vesk_vsnprintf(char* buffer, std::size_t size, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));
/// Length of the NUL-terminated `s` in bytes; `s` must not be null.
VESK_API std::size_t vesk_strlen(const char* s);
/// Copy of `s` in host memory, released with vesk_free; `s` must not be null.
VESK_API char* vesk_strdup(const char* s);
/// Copies `source` with its terminator to `destination`; returns `destination`.
VESK_API char* vesk_strcpy(char* destination, const char* source);
/// Compares bytes as unsigned values; a null pointer counts as "". Returns exactly -1, 0 or +1:
/// ("ab", "abc") -> -1, (nullptr, "") -> 0, ("\xE9", "A") -> +1.
VESK_API int vesk_strcmp(const char* a, const char* b);
/// Copies `source` without leading and trailing whitespace (space, `\t`, `\n`, `\v`, `\f`, `\r` in the
/// "C" locale) to `destination` and returns the position after the last byte written; writes no
/// terminator. "  x\ty\n" -> "x\ty" (returns destination + 3); " \t " -> nothing.
/// `destination` needs room for strlen(source) bytes; neither pointer may be null.
VESK_API char* vesk_strtrim(char* destination, const char* source);

}  // extern "C"

namespace vesk {

/// `s` with A-Z mapped to a-z by the current locale's tolower; the length never changes and
/// embedded NULs stay. "MiXeD 123" -> "mixed 123".
VESK_API std::string lower(const std::string& s);
/// `s` without leading and trailing whitespace, read up to its first NUL; inner whitespace is
/// kept. "  a  b " -> "a  b"; " \t\n" -> ""; "a\0 b" -> "a".
VESK_API std::string trim(const std::string& s);
/// The tokens of `s` between unescaped `delimiter`s; a backslash before the delimiter makes it
/// part of the token. Never empty. (',', "a,,b") -> {"a", "", "b"}; (',', "a\\,b") -> {"a,b"};
/// (',', "") -> {""}.
VESK_API std::vector<std::string> tokenize(char delimiter, const std::string& s);
/// Copies `s` into `out` of `size` bytes, always NUL-terminated, cutting it if needed; true if
/// all of `s` fitted. ("xyz", 4) -> "xyz", true; ("xyz", 3) -> "xy", false. A `size` of 0 writes
/// nothing and returns false.
VESK_API bool fill(const std::string& s, char* out, unsigned int size);

}  // namespace vesk

// Interned strings and source positions.
namespace vesk {

namespace table_string {

/// The process-wide interning table; defined inside the library.
class Table;

/// One interned text: its bytes, their count and their hash. A record held by the interning
/// table has its text and a NUL right behind it (a text of nearly 4 GiB in a buffer of its
/// own), both living until the process ends; a lookup key only points at the caller's bytes.
class VESK_API Entry : public AllocatorBase {
public:
  /// Lookup key over `size` bytes at `text`: copies nothing, hashes the bytes with
  /// host_hash_n_bytes(0, size, text). A null `text` is hashed as no bytes.
  Entry(const char* text, unsigned int size);
  /// Owning copy of `other`'s bytes with a NUL appended, in a block from vesk_calloc; the
  /// size and hash are taken over. Throws std::length_error when size() + 1 does not fit
  /// 32 bits and std::bad_alloc when the host has no memory.
  Entry(const Entry& other);
  /// Records own their bytes, so assigning one to another is not offered.
  Entry& operator=(const Entry&) = delete;
  /// Releases the text buffer if this entry owns it.
  ~Entry();

  /// True when the hashes, the sizes and all size() bytes are equal (embedded NULs
  /// included). A null text reads as "".
  bool operator==(const Entry& other) const;
  /// Byte-wise comparison (unsigned) of the texts read as NUL-terminated strings; a null
  /// text reads as "". "B" < "a", "ab" < "abc"; "a\0b" and "a" are not ordered.
  bool operator<(const Entry& other) const;

  /// The bytes; in a record of the table they are followed by a NUL.
  const char* text() const { return mText; }
  /// The number of bytes, without the terminating NUL.
  unsigned int size() const { return mSize; }
  /// host_hash_n_bytes(0, size(), text()), computed once when the key was built.
  unsigned int hash() const { return mHash; }

private:
  friend class Table;
  // Lookup key whose hash the table has already computed.
  Entry(const char* text, unsigned int size, unsigned int hash)
      : mText(text), mSize(size), mHash(hash), mOwnsText(false) {}

  const char* mText;
  unsigned int mSize;
  unsigned int mHash;
  bool mOwnsText;
};

}  // namespace table_string

/// Handle to an interned, immutable text: one pointer to the process-wide record of that
/// text. Equal texts share one record, so == is a pointer comparison. Every operation is safe
/// on any number of threads at once: a constructor whose text is already interned takes no
/// lock and writes no shared memory, and new texts are inserted at once, each under the lock
/// of its bucket's region of the table (texts of one bucket take turns).
class VESK_API TableString {
public:
  /// The empty text.
  TableString();
  /// The NUL-terminated `text` (null gives the empty text). "abc" -> size 3; nullptr -> "".
  /// Throws std::length_error when the text has 4294967295 bytes or more.
  TableString(const char* text);
  /// Exactly `size` bytes at `text`, NULs included; null or a size of 0 gives the empty
  /// text. ("abcdef", 3) -> "abc"; ("a\0b", 3) -> size 3. Throws std::length_error for a
  /// non-null `text` with a size of 4294967295 (no room for the terminating NUL).
  TableString(const char* text, unsigned int size);
  /// All text.size() bytes, NULs included. Throws std::length_error above 4294967294 bytes.
  TableString(const std::string& text);
  /// All text.size() bytes, NULs included; an empty view gives the empty text. Throws
  /// std::length_error above 4294967294 bytes.
  TableString(std::string_view text);
  /// Copies the record pointer; touches no table.
  TableString(const TableString& other) = default;
  /// Copies `other`'s record pointer.
  TableString& operator=(const TableString& other) = default;

  /// The characters, followed by a NUL; valid until the process ends.
  const char* text() const { return mEntry != nullptr ? mEntry->text() : ""; }
  /// The number of bytes without the terminating NUL; reads the record, never scans.
  unsigned int size() const { return mEntry != nullptr ? mEntry->size() : 0; }
  /// Same as text().
  const char* begin() const { return text(); }
  /// begin() + size().
  const char* end() const { return text() + size(); }
  /// The characters up to the first NUL: "a\0b" (size 3) -> "a".
  operator std::string() const { return std::string(text()); }
  /// True when the handles name different records, that is different texts.
  bool operator!=(const TableString& other) const { return mEntry != other.mEntry; }

  /// Writes the interning table's six-line report (bucket count, largest and smallest
  /// bucket, buckets in use, growths) to `out`; creates the table if needed. The figures are
  /// of one moment, taken under every lock of the table (they wait for the insertions under
  /// way); safe on any thread.
  static void stats(std::ostream& out);
  /// The number of distinct texts interned so far, the empty text included once it has been
  /// interned; creates the table if needed. Safe on any thread, as stats is.
  static std::size_t count();

  /// See the namespace-level declarations below.
  friend bool operator==(const TableString& a, const TableString& b) {
    return a.mEntry == b.mEntry;
  }
  /// Exchanges the two record pointers.
  friend void swap(TableString& a, TableString& b) {
    const table_string::Entry* entry = a.mEntry;
    a.mEntry = b.mEntry;
    b.mEntry = entry;
  }

protected:
  /// The interned record itself.
  const table_string::Entry& entry() const { return *mEntry; }

private:
  friend struct std::hash<TableString>;
  static table_string::Table& table();

  const table_string::Entry* mEntry;
};

/// True when both handles name the same record (same bytes and size). Costs one comparison.
bool operator==(const TableString& a, const TableString& b);
/// Text order: bytes compared as unsigned values up to the first difference or NUL. "" < "a",
/// "ab" < "abc", "B" < "a". Same order in every run.
VESK_API bool operator<(const TableString& a, const TableString& b);
/// Exchanges the two record pointers.
void swap(TableString& a, TableString& b);
/// Writes the std::string form (up to the first NUL) as a string, so width and fill apply.
VESK_API std::ostream& operator<<(std::ostream& out, const TableString& s);

/// Owning store of string copies: addString hands out character pointers that stay valid
/// until the store is destroyed or assigned to. No deduplication. Not synchronised: one
/// thread at a time per store (separate stores on separate threads need nothing).
class VESK_API StringTable {
public:
  /// An empty store.
  StringTable();
  /// Deep copy: the copy owns its own strings.
  StringTable(const StringTable& other);
  /// Releases every stored string; pointers handed out become invalid.
  ~StringTable();
  /// Replaces the content by a deep copy of `other`'s; pointers this store handed out earlier
  /// become invalid (unless `other` is this store, which changes nothing).
  StringTable& operator=(const StringTable& other);
  /// Takes over `other`'s strings without copying them: every pointer `other` handed out stays
  /// valid, now owned by this store. `other` is left empty and usable. Allocates nothing.
  StringTable(StringTable&& other) noexcept;
  /// Releases this store's strings (its earlier pointers become invalid) and takes over
  /// `other`'s, whose pointers stay valid; `other` is left empty and usable. Moving a store
  /// to itself changes nothing.
  StringTable& operator=(StringTable&& other) noexcept;

  /// Stores a copy of all of `text` (NULs included) and returns its NUL-terminated data, a
  /// new pointer on every call. "" -> pointer to a NUL; "a\0b" -> reads as "a".
  const char* addString(const std::string& text);

private:
  // Null in a store whose strings were moved away; the next addString makes a new list.
  std::list<std::string>* mStrings;
};

/// A line (low 20 bits, 0..1048575) and a column (high 12 bits, 0..4095) in one 32-bit word,
/// on every host: the word is built with shifts, since the order of bit-fields in a word
/// follows the host (a big-endian ABI puts the first one in the high bits).
class VESK_API LineColumn {
public:
  /// Keeps the low 20 bits of `line` and the low 12 bits of `column`: (1048577, 4097) -> 1, 1.
  LineColumn(unsigned int line = 0, unsigned int column = 0)
      : mWord((line & kLineMask) | (column & 0xFFFu) << kColumnShift) {}

  /// The line, 0..1048575.
  unsigned int line() const { return mWord & kLineMask; }
  /// The column, 0..4095.
  unsigned int column() const { return mWord >> kColumnShift; }

  /// Both fields equal.
  bool operator==(const LineColumn& other) const { return mWord == other.mWord; }
  /// Not ==.
  bool operator!=(const LineColumn& other) const { return !(*this == other); }
  /// By line, then by column.
  bool operator<(const LineColumn& other) const {
    return line() != other.line() ? line() < other.line() : column() < other.column();
  }

private:
  static constexpr std::uint32_t kLineMask = 0xFFFFFu;
  static constexpr unsigned int kColumnShift = 20;
  std::uint32_t mWord;
};

/// Exchanges the two values.
VESK_API void swap(LineColumn& a, LineColumn& b);
/// Writes "{line,column}": LineColumn(12, 5) -> {12,5}.
VESK_API std::ostream& operator<<(std::ostream& out, const LineColumn& p);

/// A file name (interned) and a position in that file.
class VESK_API Location {
public:
  /// Empty file name at {0,0}; interns the empty text.
  Location();
  /// Copies both; interns nothing.
  Location(const TableString& fileName, const LineColumn& lineColumn)
      : mFileName(fileName), mLineColumn(lineColumn) {}

  /// The file name.
  const TableString& fileName() const { return mFileName; }
  /// The position in the file.
  const LineColumn& lineColumn() const { return mLineColumn; }

  /// Same file name record and same position.
  bool operator==(const Location& other) const {
    return mFileName == other.mFileName && mLineColumn == other.mLineColumn;
  }
  /// Not ==.
  bool operator!=(const Location& other) const { return !(*this == other); }
  /// By file name text, then line, then column; file characters are read only when the
  /// names are different records.
  bool operator<(const Location& other) const {
    return mFileName == other.mFileName ? mLineColumn < other.mLineColumn
                                        : mFileName < other.mFileName;
  }

  /// See the namespace-level declaration below.
  friend void swap(Location& a, Location& b) {
    swap(a.mFileName, b.mFileName);
    swap(a.mLineColumn, b.mLineColumn);
  }

private:
  TableString mFileName;
  LineColumn mLineColumn;
};

/// Exchanges the file names, then the positions.
void swap(Location& a, Location& b);
/// Writes "file:line:column": a.txt at (3, 4) -> a.txt:3:4; a default Location -> :0:0.
VESK_API std::ostream& operator<<(std::ostream& out, const Location& l);

/// A begin and an end Location; the end need not follow the begin nor share its file.
class VESK_API Range {
public:
  /// Two default Locations; interns the empty text.
  Range();
  /// Copies both.
  Range(const Location& begin, const Location& end) : mBegin(begin), mEnd(end) {}

  /// The start.
  const Location& begin() const { return mBegin; }
  /// The end.
  const Location& end() const { return mEnd; }

private:
  Location mBegin;
  Location mEnd;
};

/// Writes the begin Location, then the end in its shortest form: a.txt:3:4-9 (same line),
/// a.txt:3:4-5:1 (same file), a.txt:3:4-b.txt:5:1 (other file). A default Range -> :0:0-0.
VESK_API std::ostream& operator<<(std::ostream& out, const Range& r);

}  // namespace vesk

// Hashes of the value classes, so that they key the standard unordered containers.
namespace std {

/// The hash of a TableString, so that handles key the standard unordered containers.
template <>
struct hash<vesk::TableString> {
  /// The record's address, mixed by one multiply: equal texts share one record, and no text
  /// is read.
  std::size_t operator()(const vesk::TableString& s) const noexcept {
    const auto address = reinterpret_cast<std::uintptr_t>(s.mEntry);
    return static_cast<std::size_t>((address >> 4) * 0x9E3779B97F4A7C15u);
  }
};

/// The hash of a LineColumn, so that positions key the standard unordered containers.
template <>
struct hash<vesk::LineColumn> {
  /// The 32-bit word of line and column, mixed by one multiply.
  std::size_t operator()(const vesk::LineColumn& p) const noexcept {
    const std::uint64_t word = p.line() | std::uint64_t{p.column()} << 20;
    return static_cast<std::size_t>(word * 0x9E3779B97F4A7C15u);
  }
};

}  // namespace std

#endif
