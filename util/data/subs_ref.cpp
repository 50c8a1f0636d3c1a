// SubsRef: a shared subscript selection and the gather that copies the selected elements.
#include "vesk/data.hpp"

#include "util/data/element_ops.hpp"

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace vesk {

namespace {

using Gather = void (*)(const std::vector<unsigned int>& index, void* dst, const void* src);

// Destination element i is source element index[i]; indices may repeat and are trusted.
template <class Element, class Pass>
__attribute__((always_inline)) inline void gather_each(const std::vector<unsigned int>& index,
                                                       void* dst, const void* src, Pass pass) {
  const unsigned int* positions = index.data();
  const std::size_t count = index.size();
  for (std::size_t i = 0; i < count; ++i)
    detail::store_element<Element>(dst, i, pass(detail::load_element<Element>(src, positions[i])));
}

template <class Element>
void gather_bits(const std::vector<unsigned int>& index, void* dst, const void* src) {
  gather_each<Element>(index, dst, src, [](Element x) { return x; });
}

// REAL elements arrive as a copy through the floating-point unit would leave them: a
// signalling NaN quiet, every other value unchanged.
void gather_real(const std::vector<unsigned int>& index, void* dst, const void* src) {
  gather_each<std::uint64_t>(index, dst, src, detail::quiet_nan_bits);
}

// One routine per element width, by type: LOGICAL, REAL, INTEGER, UINTEGER, STRING.
constexpr Gather kGathers[5] = {gather_bits<std::uint8_t>, gather_real,
                                gather_bits<std::uint32_t>, gather_bits<std::uint32_t>,
                                gather_bits<std::uint8_t>};

// What an empty handle reads as: no elements of no shape.
constexpr Dimension kNoDimension(0, 0);

}  // namespace

SubsRef::SubsRef(const Dimension& dimension, const std::vector<unsigned int>& index) {
  // The class-specific new reports exhaustion with null rather than an exception.
  std::unique_ptr<Dimension> shape(new Dimension(dimension));
  if (!shape)
    throw std::bad_alloc();
  auto positions = std::make_unique<std::vector<unsigned int>>(index);
  mCount = new std::uint32_t(1);
  mDimension = shape.release();
  mIndex = positions.release();
}

SubsRef::SubsRef(const SubsRef& other)
    : mCount(other.mCount), mDimension(other.mDimension), mIndex(other.mIndex) {
  if (mCount != nullptr)
    ++*mCount;
}

// NOLINTNEXTLINE(bugprone-unhandled-self-assignment): safe, as the comment below explains
SubsRef& SubsRef::operator=(const SubsRef& other) {
  // Taking the new share before giving up the old one makes self-assignment, and assignment
  // between handles of one selection, leave the selection alive.
  if (other.mCount != nullptr)
    ++*other.mCount;
  release();
  mCount = other.mCount;
  mDimension = other.mDimension;
  mIndex = other.mIndex;
  return *this;
}

SubsRef::~SubsRef() { release(); }

const Dimension& SubsRef::dimension() const {
  return mDimension != nullptr ? *mDimension : kNoDimension;
}

const std::vector<unsigned int>& SubsRef::index() const {
  if (mIndex != nullptr)
    return *mIndex;
  static const std::vector<unsigned int> no_index;
  return no_index;
}

void SubsRef::assign(DataTypeId::Type type, void* dst, const void* src) const {
  if (!detail::is_element_type(type)) {
    vesk_assertion(detail::kTypeOutOfRange, "util/data/subs_ref", 27);
    return;
  }
  if (mIndex != nullptr)
    kGathers[type](*mIndex, dst, src);
}

void SubsRef::release() {
  if (mCount == nullptr || --*mCount > 0)
    return;
  delete mCount;
  delete mDimension;  // AllocatorBase's operator delete: back to the host
  delete mIndex;
}

}  // namespace vesk
