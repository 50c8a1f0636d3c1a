// Typed arrays: type names, conversion between element types, shapes and gathers.
#include <vesk/data.hpp>

#include <cstdint>
#include <iostream>

int main() {
  using vesk::DataTypeId::INTEGER;
  using vesk::DataTypeId::REAL;

  const vesk::DataTypeId::Type type = vesk::type_from_string("Integer");  // any letter case
  std::cout << vesk::get_type_name(type) << ", " << vesk::get_type_size(type) << " bytes\n";

  // REAL to INTEGER truncates toward zero; out of range gives -2147483648.
  const double reals[4] = {1.9, -2.5, 3e10, 42.0};
  std::int32_t ints[4];
  vesk::convert_data(4, REAL, reals, INTEGER, ints);
  std::cout << ints[0] << ' ' << ints[1] << ' ' << ints[2] << ' ' << ints[3] << '\n';

  // A 2-by-2 array is stored column by column; gather its diagonal.
  const vesk::Dimension shape(2, 2);
  const vesk::SubsRef diagonal(vesk::Dimension(2, 1),
                               {shape.computeIndex(0, 0), shape.computeIndex(1, 1)});
  double picked[2];
  diagonal.assign(REAL, picked, reals);
  std::cout << shape << " diagonal: " << picked[0] << ' ' << picked[1] << '\n';  // 1.9 42
}
