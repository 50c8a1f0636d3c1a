// Text forms of Dimension.
#include "vesk/data.hpp"

#include <ostream>
#include <sstream>

namespace vesk {

std::string Dimension::str() const {
  std::ostringstream out;
  out << '[' << mM << ", " << mN << ']';
  return out.str();
}

std::ostream& operator<<(std::ostream& out, const Dimension& dimension) {
  return out << '{' << dimension.m() << ',' << dimension.n() << '}';
}

}  // namespace vesk
