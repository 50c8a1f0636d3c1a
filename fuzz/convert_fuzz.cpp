// convert_data on arbitrary bytes: the whole-array loops must agree with one-element calls,
// and conversions from REAL with a plain branching statement of the rules.
#include <vesk/data.hpp>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The REAL rules written with branches, one element at a time.
void expect_real_rules(double x, const unsigned char* converted, vesk::DataTypeId::Type to) {
  const double t = std::trunc(x);
  const bool fits_int32 = !std::isnan(x) && t >= -2147483648.0 && t <= 2147483647.0;
  std::uint32_t want = 0;
  unsigned int size = 4;
  switch (to) {
    case vesk::DataTypeId::INTEGER:
      want = fits_int32 ? static_cast<std::uint32_t>(static_cast<std::int32_t>(t)) : 0x80000000u;
      break;
    case vesk::DataTypeId::UINTEGER:
      if (!std::isnan(x) && std::fabs(t) < 9223372036854775808.0)
        want = static_cast<std::uint32_t>(static_cast<std::uint64_t>(static_cast<std::int64_t>(t)));
      break;
    case vesk::DataTypeId::LOGICAL:
    case vesk::DataTypeId::STRING:
      size = 1;
      if (fits_int32)
        want = static_cast<std::uint8_t>(static_cast<std::int32_t>(t));
      break;
    default:
      return;
  }
  std::uint32_t got = 0;
  if (size == 1)
    got = converted[0];
  else
    std::memcpy(&got, converted, 4);
  if (got != want)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2)
    return 0;
  const auto from = static_cast<vesk::DataTypeId::Type>(data[0] % 5);
  const auto to = static_cast<vesk::DataTypeId::Type>(data[1] % 5);
  const unsigned int from_size = vesk::get_type_size(from);
  const unsigned int to_size = vesk::get_type_size(to);
  const auto count = static_cast<unsigned int>((size - 2) / from_size);
  const std::vector<unsigned char> src(data + 2, data + 2 + std::size_t{count} * from_size);

  std::vector<unsigned char> whole(std::size_t{count} * to_size), single(whole.size());
  vesk::convert_data(count, from, src.data(), to, whole.data());
  for (unsigned int i = 0; i < count; ++i)
    vesk::convert_data(1, from, &src[std::size_t{i} * from_size], to, &single[std::size_t{i} * to_size]);
  if (whole != single)
    std::abort();

  if (from == vesk::DataTypeId::REAL) {
    for (unsigned int i = 0; i < count; ++i) {
      double x;
      std::memcpy(&x, &src[std::size_t{i} * 8], 8);
      expect_real_rules(x, &whole[std::size_t{i} * to_size], to);
    }
  }

  // Narrowing in place gives what a separate destination got.
  if (to_size <= from_size && count > 0) {
    std::vector<unsigned char> in_place(src);
    vesk::convert_data(count, from, in_place.data(), to, in_place.data());
    if (std::memcmp(in_place.data(), whole.data(), whole.size()) != 0)
      std::abort();
  }
  return 0;
}
