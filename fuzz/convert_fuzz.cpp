// convert_data on arbitrary bytes: every type pair against a plain, branching model of the
// conversion rules written one element at a time; the whole-array call against one-element
// calls; and narrowing in place against a separate destination.
#include <vesk/data.hpp>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

namespace DataTypeId = vesk::DataTypeId;

void check(bool holds, const char* what, unsigned int index) {
  if (!holds) {
    std::fprintf(stderr, "convert_data: %s (element %u)\n", what, index);
    std::abort();
  }
}

// Element values are read and written in native byte order, as the arrays hold them.
template <class T>
T load(const unsigned char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <class T>
void store(unsigned char* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// The rules from REAL, with t the value truncated toward zero.
void model_from_real(double x, DataTypeId::Type to, unsigned char* out) {
  const double t = std::trunc(x);
  const bool fits_int32 = !std::isnan(x) && t >= -2147483648.0 && t <= 2147483647.0;
  switch (to) {
    case DataTypeId::LOGICAL:
    case DataTypeId::STRING:  // rule B
      out[0] = fits_int32 ? static_cast<unsigned char>(static_cast<std::int32_t>(t) & 0xFF) : 0;
      break;
    case DataTypeId::INTEGER:  // rule I
      store<std::int32_t>(out, fits_int32 ? static_cast<std::int32_t>(t) : INT32_MIN);
      break;
    case DataTypeId::UINTEGER: {  // rule U
      std::uint32_t u = 0;
      if (!std::isnan(x) && std::fabs(t) < 9223372036854775808.0)
        u = static_cast<std::uint32_t>(static_cast<std::uint64_t>(static_cast<std::int64_t>(t)));
      store<std::uint32_t>(out, u);
      break;
    }
    case DataTypeId::REAL:
      store<double>(out, x);
      break;
    default:
      break;
  }
}

// The rules from the integral types: LOGICAL zero-extends, STRING sign-extends; into bytes the
// low 8 bits, into 32-bit types the low 32 bits, into REAL the exact value.
void model_from_integral(std::int64_t v, DataTypeId::Type to, unsigned char* out) {
  switch (to) {
    case DataTypeId::LOGICAL:
    case DataTypeId::STRING:
      out[0] = static_cast<unsigned char>(static_cast<std::uint64_t>(v) & 0xFF);
      break;
    case DataTypeId::INTEGER:
    case DataTypeId::UINTEGER:
      store<std::uint32_t>(out, static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
      break;
    case DataTypeId::REAL:
      store<double>(out, static_cast<double>(v));
      break;
    default:
      break;
  }
}

void model(DataTypeId::Type from, const unsigned char* in, DataTypeId::Type to,
           unsigned char* out) {
  switch (from) {
    case DataTypeId::LOGICAL:
      model_from_integral(in[0], to, out);
      break;
    case DataTypeId::STRING:
      model_from_integral(static_cast<std::int8_t>(in[0]), to, out);
      break;
    case DataTypeId::INTEGER:
      model_from_integral(load<std::int32_t>(in), to, out);
      break;
    case DataTypeId::UINTEGER:
      model_from_integral(load<std::uint32_t>(in), to, out);
      break;
    case DataTypeId::REAL:
      model_from_real(load<double>(in), to, out);
      break;
    default:
      break;
  }
}

// REAL into REAL copies through the floating-point unit, which may quieten a signalling NaN:
// the bits must match, or both be NaNs that differ at most in the quiet bit.
bool same_real(const unsigned char* a, const unsigned char* b) {
  const auto x = load<std::uint64_t>(a);
  const auto y = load<std::uint64_t>(b);
  constexpr std::uint64_t kQuiet = std::uint64_t{1} << 51;
  return x == y || (std::isnan(load<double>(a)) && std::isnan(load<double>(b)) &&
                    (x | kQuiet) == (y | kQuiet));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2)
    return 0;
  const auto from = static_cast<DataTypeId::Type>(data[0] % 5);
  const auto to = static_cast<DataTypeId::Type>(data[1] % 5);
  const unsigned int from_size = vesk::get_type_size(from);
  const unsigned int to_size = vesk::get_type_size(to);
  const auto count = static_cast<unsigned int>((size - 2) / from_size);
  const std::vector<unsigned char> src(data + 2, data + 2 + std::size_t{count} * from_size);

  std::vector<unsigned char> whole(std::size_t{count} * to_size);
  vesk::convert_data(count, from, src.data(), to, whole.data());

  std::vector<unsigned char> want(to_size);
  std::vector<unsigned char> single(to_size);
  for (unsigned int i = 0; i < count; ++i) {
    const unsigned char* in = &src[std::size_t{i} * from_size];
    const unsigned char* got = &whole[std::size_t{i} * to_size];
    model(from, in, to, want.data());
    const bool real_copy = from == DataTypeId::REAL && to == DataTypeId::REAL;
    check(real_copy ? same_real(got, want.data()) : std::memcmp(got, want.data(), to_size) == 0,
          "array result differs from the model", i);
    vesk::convert_data(1, from, in, to, single.data());
    check(std::memcmp(got, single.data(), to_size) == 0,
          "array result differs from a one-element call", i);
  }

  // Narrowing in place gives what a separate destination got.
  if (to_size <= from_size && count > 0) {
    std::vector<unsigned char> in_place(src);
    vesk::convert_data(count, from, in_place.data(), to, in_place.data());
    check(std::memcmp(in_place.data(), whole.data(), whole.size()) == 0,
          "in-place result differs from a separate destination", 0);
  }

  // A count of 0 touches nothing, whatever the pointers.
  vesk::convert_data(0, from, nullptr, to, nullptr);
  return 0;
}
