// Source positions: LineColumn, Location and Range, and their compact stream forms.
#include "vesk/string.hpp"

#include <ostream>

namespace vesk {

void swap(LineColumn& a, LineColumn& b) {
  const LineColumn saved = a;
  a = b;
  b = saved;
}

std::ostream& operator<<(std::ostream& out, const LineColumn& p) {
  return out << "{" << p.line() << "," << p.column() << "}";
}

Location::Location() : mFileName(), mLineColumn(0, 0) {}

std::ostream& operator<<(std::ostream& out, const Location& l) {
  return out << l.fileName() << ":" << l.lineColumn().line() << ":" << l.lineColumn().column();
}

Range::Range() : mBegin(), mEnd() {}

std::ostream& operator<<(std::ostream& out, const Range& r) {
  const Location& begin = r.begin();
  const Location& end = r.end();
  out << begin;
  if (end.fileName() != begin.fileName())
    return out << "-" << end;
  // Only the lines decide the short form; the columns are not compared.
  if (end.lineColumn().line() == begin.lineColumn().line())
    return out << "-" << end.lineColumn().column();
  return out << "-" << end.lineColumn().line() << ":" << end.lineColumn().column();
}

}  // namespace vesk
