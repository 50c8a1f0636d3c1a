// An exception of the tool family: derive from vesk::Exception and catch the root.
#include <vesk/exe.hpp>

#include <iostream>
#include <string>
#include <utility>
#include <vector>

class ParseError : public vesk::Exception {
public:
  ParseError(std::string what, vesk::StackFrame where)
      : mWhat(std::move(what)), mStack{std::move(where)} {}

  std::string message() const override { return mWhat; }
  std::string kind() const override { return "ParseError"; }
  const std::vector<vesk::StackFrame>& stack() const override { return mStack; }
  void raise() const override { throw *this; }

private:
  vesk::Exception* clone() const override { return new ParseError(*this); }

  std::string mWhat;
  std::vector<vesk::StackFrame> mStack;
};

int main() {
  try {
    ParseError("missing ';'", vesk::StackFrame("model.src", "readStatement", 12)).raise();
  } catch (const vesk::Exception& e) {
    // ParseError: missing ';' at {model.src>readStatement:12}
    std::cout << e.kind() << ": " << e.message() << " at " << e.stack().front() << '\n';
  }
}
