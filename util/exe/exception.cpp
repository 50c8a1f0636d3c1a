// The abstract exception root and stack frames.
#include "vesk/exe.hpp"

#include <stdexcept>
#include <utility>

namespace vesk {

namespace {

// The host's assertion reports name this source file and these lines; tools of the family
// match on them, so they are fixed rather than taken from __FILE__ and __LINE__.
constexpr const char kSourceFile[] = "util/exe/exception";
constexpr int kNoCausesLine = 48;
constexpr int kNoObjectsLine = 60;

}  // namespace

StackFrame::StackFrame(const std::string& file, const std::string& name, unsigned int line)
    : mFile(file), mName(name), mLine(line) {}

bool StackFrame::operator==(const StackFrame& other) const {
  return mFile == other.mFile && mLine == other.mLine && mName == other.mName;
}

void StackFrame::swap(StackFrame& other) noexcept {
  mFile.swap(other.mFile);
  mName.swap(other.mName);
  std::swap(mLine, other.mLine);
}

std::ostream& operator<<(std::ostream& os, const StackFrame& frame) {
  // A width set by the caller is meant for the line number; the text before it would
  // otherwise consume it.
  const std::streamsize width = os.width(0);
  os << '{' << frame.file() << '>' << frame.name() << ':';
  os.width(width);
  return os << frame.line() << '}';
}

Exception::~Exception() = default;

const std::vector<StackFrame>& Exception::stack() const {
  // Created on first use and shared by every exception without a stack of its own.
  static const std::vector<StackFrame> empty_stack;
  return empty_stack;
}

unsigned int Exception::numCauses() const { return 0; }

const Exception& Exception::cause(unsigned int /*i*/) const {
  vesk_assertion("no causes", kSourceFile, kNoCausesLine);
  // The host's report returned, but the base has no exception to refer to; throwing keeps the
  // caller from ever holding a dangling reference.
  throw std::logic_error("no causes");
}

unsigned int Exception::numObjects() const { return 0; }

const std::string& Exception::object(unsigned int /*i*/) const {
  vesk_assertion("no objects", kSourceFile, kNoObjectsLine);
  // The host's report returned; a lasting empty name is the one safe thing to refer to.
  static const std::string no_object;
  return no_object;
}

Exception* Exception::cloneException(const Exception& e) { return e.clone(); }

void Exception::destroy(Exception* e) { delete e; }

}  // namespace vesk
