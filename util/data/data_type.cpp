// The scalar type tables: names, lower-case names, element sizes, typed buffers, name lookup.
#include "vesk/data.hpp"
#include "vesk/string.hpp"

#include "util/data/element_ops.hpp"

namespace vesk {

namespace {

// Six rows: the five types and the row of 5, which only bounds the tables.
constexpr int kRows = 6;
const char* const kNames[kRows] = {"LOGICAL", "REAL", "INTEGER", "UINTEGER", "STRING", nullptr};
const char* const kLowerNames[kRows] = {"logical",  "real",   "integer",
                                        "uinteger", "string", nullptr};
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
  if (gLowerNames[type] == nullptr)
    gLowerNames[type] = vesk_strdup(kLowerNames[type]);
  return gLowerNames[type];
}

unsigned int get_type_size(DataTypeId::Type type) { return has_row(type) ? kSizes[type] : 0; }

void* allocate_buffer(DataTypeId::Type type, unsigned int count) {
  if (!detail::is_element_type(type))
    return nullptr;
  return Allocate::allocate(kSizes[type], count);
}

DataTypeId::Type type_from_string(const std::string& name) {
  // Compared with the constant names, not the copies get_type_name_lower makes: a lookup
  // needs no host memory, so a copy that could not be made never hides a type.
  const std::string key = lower(name);
  for (int t = DataTypeId::LOGICAL; t <= DataTypeId::STRING; ++t)
    if (key == kLowerNames[t])
      return static_cast<DataTypeId::Type>(t);
  return static_cast<DataTypeId::Type>(-1);
}

}  // namespace vesk
