// Errors: the abstract exception root and stack frames.
#ifndef VESK_EXE_HPP
#define VESK_EXE_HPP

#include "vesk/base.hpp"

#include <ostream>
#include <string>
#include <vector>

namespace vesk {

/// One source position of an exception's stack: file, name of the function (or other unit)
/// and line. A copyable value; frames created with new take their storage from the host
/// allocator.
class VESK_API StackFrame : public AllocatorBase {
public:
  /// A frame of `file`, `name` and `line`; with no arguments, empty names and line 0.
  StackFrame(const std::string& file = "", const std::string& name = "", unsigned int line = 0);

  /// The source file of the frame.
  const std::string& file() const { return mFile; }
  /// The function or other unit at the frame's position.
  const std::string& name() const { return mName; }
  /// The line in the file.
  unsigned int line() const { return mLine; }

  /// True when file, line and name are all equal (compared in that order).
  bool operator==(const StackFrame& other) const;
  /// The negation of operator==.
  bool operator!=(const StackFrame& other) const { return !(*this == other); }

  /// Exchanges the contents of two frames without copying their strings.
  void swap(StackFrame& other) noexcept;

private:
  std::string mFile;
  std::string mName;
  unsigned int mLine;
};

/// Exchanges the contents of two frames.
inline void swap(StackFrame& a, StackFrame& b) noexcept { a.swap(b); }

/// Writes `frame` as "{file>name:line}" with nothing after it, the line through the stream's own
/// unsigned output, so the stream's base, and a width set before the frame, apply to the line:
/// a default frame is "{>:0}"; line 255 under std::hex is "{f>n:ff}". Returns `os`.
VESK_API std::ostream& operator<<(std::ostream& os, const StackFrame& frame);

/// Abstract root of the exceptions that the tool family throws; catch it as
/// `const vesk::Exception&`. The base holds no state: a derived class supplies message(),
/// kind(), raise() and clone(), and overrides the context accessors that it fills.
/// Exceptions created with new take their storage from the host allocator.
class VESK_API Exception : protected AllocatorBase {
public:
  /// New-expressions take zero-filled storage from the host allocator, as AllocatorBase's do
  /// (the base itself is protected).
  using AllocatorBase::operator new;
  /// Returns that storage to the host.
  using AllocatorBase::operator delete;

  /// Copies nothing (the base has no state) and returns `*this`.
  Exception& operator=(const Exception&) { return *this; }

  /// A description of the error for a person to read.
  virtual std::string message() const = 0;
  /// The name of the exception's kind, constant for each derived class.
  virtual std::string kind() const = 0;
  /// The frames of the exception's stack, valid while the exception lives. The base returns
  /// one empty vector shared by every exception that does not override this.
  virtual const std::vector<StackFrame>& stack() const;
  /// Number of exceptions that caused this one; 0 in the base.
  virtual unsigned int numCauses() const;
  /// Cause `i`, for `i` below numCauses(). The base has none: it reports the assertion
  /// "no causes" and, if the host's report returns, throws std::logic_error.
  virtual const Exception& cause(unsigned int i) const;
  /// Number of names of objects that the exception concerns; 0 in the base.
  virtual unsigned int numObjects() const;
  /// Object name `i`, for `i` below numObjects(). The base has none: it reports the assertion
  /// "no objects" and, if the host's report returns, yields a reference to an empty string.
  virtual const std::string& object(unsigned int i) const;
  /// Throws a copy of the most-derived exception (`throw *this;` in the derived class), so a
  /// caller holding an `Exception&` rethrows it with its full type.
  virtual void raise() const = 0;

protected:
  /// Constructs the stateless base.
  Exception() = default;
  /// Copies nothing: a derived class copies its own context.
  Exception(const Exception&) : AllocatorBase() {}
  /// Ends the object; a held exception is deleted with destroy().
  virtual ~Exception();

  /// A new, separately owned copy of the most-derived exception `e` refers to (`e.clone()`);
  /// the caller releases it with destroy(). Returns what clone() returns, unchecked.
  static Exception* cloneException(const Exception& e);
  /// Deletes `e` through its virtual destructor, returning its storage to the host allocator;
  /// a null `e` is ignored.
  static void destroy(Exception* e);

  /// A copy of the most-derived exception, created with new; called through cloneException().
  virtual Exception* clone() const = 0;
};

}  // namespace vesk

#endif
