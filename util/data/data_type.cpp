// The scalar type tables: names, lower-case names, element sizes, typed buffers, name lookup.
#include "vesk/data.hpp"
#include "vesk/string.hpp"

#include "util/data/element_ops.hpp"

#include <cctype>
#include <map>

namespace vesk {

namespace {

// Six rows: the five types and the row of 5, which only bounds the tables.
constexpr int kRows = 6;
const char* const kNames[kRows] = {"LOGICAL", "REAL", "INTEGER", "UINTEGER", "STRING", nullptr};
constexpr unsigned int kSizes[kRows] = {1, 8, 4, 4, 1, 0};

// Filled on first request per type and never released, so returned pointers stay valid.
const char* gLowerNames[kRows] = {};

bool has_row(DataTypeId::Type type) { return type >= 0 && type < kRows; }

}  // namespace

const char* get_type_name(DataTypeId::Type type) {
  return has_row(type) ? kNames[type] : nullptr;
}

const char* get_type_name_lower(DataTypeId::Type type) {
  if (!detail::is_element_type(type))
    return nullptr;
  if (gLowerNames[type] == nullptr) {
    char* name = vesk_strdup(kNames[type]);
    if (name == nullptr)
      return nullptr;
    for (char* c = name; *c != '\0'; ++c)
      *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    gLowerNames[type] = name;
  }
  return gLowerNames[type];
}

unsigned int get_type_size(DataTypeId::Type type) { return has_row(type) ? kSizes[type] : 0; }

void* allocate_buffer(DataTypeId::Type type, unsigned int count) {
  if (!detail::is_element_type(type))
    return nullptr;
  return Allocate::allocate(kSizes[type], count);
}

DataTypeId::Type type_from_string(const std::string& name) {
  // Created on the first call and destroyed with the library's other statics at unload.
  static std::map<std::string, DataTypeId::Type> names;
  if (names.empty()) {
    for (int t = DataTypeId::LOGICAL; t <= DataTypeId::STRING; ++t) {
      const auto type = static_cast<DataTypeId::Type>(t);
      if (const char* lower_name = get_type_name_lower(type))
        names.emplace(lower_name, type);
    }
  }
  const std::string key = lower(name);
  const auto found = names.lower_bound(key);
  if (found == names.end() || key < found->first)
    return static_cast<DataTypeId::Type>(-1);
  return found->second;
}

}  // namespace vesk
