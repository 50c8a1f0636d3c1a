// StringTable: an owning store of string copies with stable character pointers.
#include "vesk/string.hpp"

namespace vesk {

namespace {

std::list<std::string>* copy_of(const std::list<std::string>* strings) {
  return strings != nullptr ? new std::list<std::string>(*strings) : new std::list<std::string>();
}

}  // namespace

StringTable::StringTable() : mStrings(new std::list<std::string>()) {}

StringTable::StringTable(const StringTable& other) : mStrings(copy_of(other.mStrings)) {}

// The list itself changes hands, so its elements, and the characters they hold, stay put.
StringTable::StringTable(StringTable&& other) noexcept : mStrings(other.mStrings) {
  other.mStrings = nullptr;
}

StringTable::~StringTable() { delete mStrings; }

StringTable& StringTable::operator=(const StringTable& other) {
  // Assigning a store to itself must keep the pointers it handed out.
  if (this != &other) {
    auto* copy = copy_of(other.mStrings);
    delete mStrings;
    mStrings = copy;
  }
  return *this;
}

StringTable& StringTable::operator=(StringTable&& other) noexcept {
  if (this != &other) {
    delete mStrings;
    mStrings = other.mStrings;
    other.mStrings = nullptr;
  }
  return *this;
}

const char* StringTable::addString(const std::string& text) {
  if (mStrings == nullptr)
    mStrings = new std::list<std::string>();
  // List elements never move, so the copy's characters stay where they are.
  mStrings->push_back(text);
  return mStrings->back().c_str();
}

}  // namespace vesk
