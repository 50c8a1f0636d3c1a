// Concrete exceptions as a client component would write them, for the tests of the root.
#ifndef VESK_TESTS_SUPPORT_TEST_ERRORS_HPP
#define VESK_TESTS_SUPPORT_TEST_ERRORS_HPP

#include <vesk/exe.hpp>

#include <string>
#include <utility>
#include <vector>

namespace vesk::testing {

// Overrides none of the context accessors.
class PlainError : public Exception {
public:
  explicit PlainError(std::string text = "plain") : mText(std::move(text)) {}
  std::string message() const override { return mText; }
  std::string kind() const override { return "PlainError"; }
  void raise() const override { throw *this; }

protected:
  Exception* clone() const override { return new PlainError(*this); }

private:
  std::string mText;
};

// Owns copies of its causes and carries object names and a stack.
class ContextError : public Exception {
public:
  explicit ContextError(std::string text) : mText(std::move(text)) {}
  ContextError(const ContextError& other)
      : Exception(other), mText(other.mText), mObjects(other.mObjects), mStack(other.mStack) {
    for (const Exception* cause : other.mCauses)
      mCauses.push_back(cloneException(*cause));
  }
  ContextError& operator=(const ContextError&) = delete;
  ~ContextError() override {
    for (Exception* cause : mCauses)
      destroy(cause);
  }

  void addCause(const Exception& cause) { mCauses.push_back(cloneException(cause)); }
  void addObject(std::string name) { mObjects.push_back(std::move(name)); }
  void addFrame(const StackFrame& frame) { mStack.push_back(frame); }

  std::string message() const override { return mText; }
  std::string kind() const override { return "ContextError"; }
  void raise() const override { throw *this; }
  const std::vector<StackFrame>& stack() const override { return mStack; }
  unsigned int numCauses() const override { return static_cast<unsigned int>(mCauses.size()); }
  const Exception& cause(unsigned int i) const override { return *mCauses[i]; }
  unsigned int numObjects() const override { return static_cast<unsigned int>(mObjects.size()); }
  const std::string& object(unsigned int i) const override { return mObjects[i]; }

  // Reaches the protected helpers for tests that hold an exception by pointer.
  static Exception* copy(const Exception& e) { return cloneException(e); }
  static void release(Exception* e) { destroy(e); }

protected:
  Exception* clone() const override { return new ContextError(*this); }

private:
  std::string mText;
  std::vector<Exception*> mCauses;
  std::vector<std::string> mObjects;
  std::vector<StackFrame> mStack;
};

}  // namespace vesk::testing

#endif
