// StringTable: an owning store of string copies with stable character pointers.
#include "vesk/string.hpp"

namespace vesk {

StringTable::StringTable() : mStrings(new std::list<std::string>()) {}

StringTable::StringTable(const StringTable& other)
    : mStrings(new std::list<std::string>(*other.mStrings)) {}

StringTable::~StringTable() { delete mStrings; }

StringTable& StringTable::operator=(const StringTable& other) {
  // Assigning a store to itself must keep the pointers it handed out.
  if (this != &other) {
    auto* copy = new std::list<std::string>(*other.mStrings);
    delete mStrings;
    mStrings = copy;
  }
  return *this;
}

const char* StringTable::addString(const std::string& text) {
  // List elements never move, so the copy's characters stay where they are.
  mStrings->push_back(text);
  return mStrings->back().c_str();
}

}  // namespace vesk
