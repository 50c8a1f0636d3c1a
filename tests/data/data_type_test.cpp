// Tests of the type tables: names, lower-case names, sizes, typed buffers and name lookup.
#include "vesk/data.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace vesk {
namespace {

using DataTypeId::Type;

Type type_value(int value) { return static_cast<Type>(value); }

TEST(DataTypeId, IsAThirtyTwoBitEnumerationWithFixedValues) {
  static_assert(sizeof(DataTypeId::Type) == 4, "passed and stored as a 32-bit int");
  EXPECT_EQ(DataTypeId::LOGICAL, 0);
  EXPECT_EQ(DataTypeId::REAL, 1);
  EXPECT_EQ(DataTypeId::INTEGER, 2);
  EXPECT_EQ(DataTypeId::UINTEGER, 3);
  EXPECT_EQ(DataTypeId::STRING, 4);
}

TEST(TypeTables, NamesAndSizesOfEveryRow) {
  struct Row {
    int type;
    const char* name;
    const char* lower;
    unsigned int size;
  };
  const Row rows[] = {
      {0, "LOGICAL", "logical", 1}, {1, "REAL", "real", 8},         {2, "INTEGER", "integer", 4},
      {3, "UINTEGER", "uinteger", 4}, {4, "STRING", "string", 1},
      // Row 5 only bounds the tables; nothing beyond it may be read.
      {5, nullptr, nullptr, 0},     {-1, nullptr, nullptr, 0},      {6, nullptr, nullptr, 0},
      {INT_MIN, nullptr, nullptr, 0}, {INT_MAX, nullptr, nullptr, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.type);
    const Type type = type_value(r.type);
    if (r.name == nullptr) {
      EXPECT_EQ(get_type_name(type), nullptr);
      EXPECT_EQ(get_type_name_lower(type), nullptr);
    } else {
      EXPECT_STREQ(get_type_name(type), r.name);
      EXPECT_STREQ(get_type_name_lower(type), r.lower);
    }
    EXPECT_EQ(get_type_size(type), r.size);
  }
}

TEST(TypeTables, LowerNameIsTheSamePointerOnEveryCall) {
  const char* first = get_type_name_lower(DataTypeId::REAL);
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "real");
  EXPECT_EQ(get_type_name_lower(DataTypeId::REAL), first);
  // A copy of its own, not the upper-case table text.
  EXPECT_NE(static_cast<const void*>(first), static_cast<const void*>(get_type_name(DataTypeId::REAL)));
}

TEST(TypeFromString, AcceptsExactlyTheFiveNamesInAnyCase) {
  struct Row {
    const char* name;
    int type;
  };
  const Row rows[] = {
      {"logical", 0},  {"REAL", 1},    {"Integer", 2},  {"UINTEGER", 3}, {"String", 4},
      {"uInTeGeR", 3}, {"", -1},       {"int", -1},     {" real", -1},   {"real ", -1},
      {"reals", -1},   {"rea", -1},    {"bool", -1},    {"a", -1},       {"zzz", -1},
      {"logical\t", -1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(type_from_string(r.name), r.type);
  }
  // An embedded NUL makes a different, longer name.
  EXPECT_EQ(type_from_string(std::string("real\0", 5)), -1);
}

TEST(AllocateBuffer, GivesZeroFilledElements) {
  struct Row {
    Type type;
    unsigned int count;
    std::size_t bytes;
  };
  const Row rows[] = {{DataTypeId::REAL, 3, 24}, {DataTypeId::LOGICAL, 5, 5},
                      {DataTypeId::INTEGER, 7, 28}, {DataTypeId::UINTEGER, 1, 4},
                      {DataTypeId::STRING, 1000, 1000}};
  for (const Row& r : rows) {
    SCOPED_TRACE(get_type_name(r.type));
    auto* buffer = static_cast<unsigned char*>(allocate_buffer(r.type, r.count));
    ASSERT_NE(buffer, nullptr);
    for (std::size_t i = 0; i < r.bytes; ++i)
      ASSERT_EQ(buffer[i], 0) << "byte " << i;
    buffer[r.bytes - 1] = 1;  // the whole block is writable (ASan checks the bound)
    vesk_free(buffer);
  }
}

TEST(AllocateBuffer, RefusesWhatDoesNotFitThirtyTwoBits) {
  EXPECT_EQ(allocate_buffer(DataTypeId::REAL, 0x20000000u), nullptr);
}

}  // namespace
}  // namespace vesk
