// The library's typical use, one section per subsystem: what a tool of the family does with it.
#include <vesk/foundation_util.hpp>

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Text: read a configuration line, split it, and format a number the locale cannot disturb.
void text_and_numbers() {
  const std::string line = "  Scale, 2.5e-1 ,REAL\\,ARRAY  ";
  const std::vector<std::string> fields = vesk::tokenize(',', vesk::trim(line));
  for (const std::string& field : fields)
    std::cout << "field: [" << vesk::trim(field) << "]\n";

  const double scale = vesk_string_to_double(vesk::trim(fields[1]));
  char label[8];
  const bool whole = vesk::fill(vesk::lower(fields[0]), label, sizeof label);
  vesk_printf("%s = %g (label %s), sqrt = %g, pow(scale, 2) = %g\n", label, scale,
              whole ? "whole" : "cut", vesk_sqrt(scale), vesk_pow(scale, 2.0));
}

// Typed data: read measurements as REAL, convert them to INTEGER in a typed buffer, then
// gather the corners of the 2-by-3 array through a shared subscript reference.
void typed_data() {
  const vesk::DataTypeId::Type from = vesk::type_from_string("Real");
  const vesk::DataTypeId::Type to = vesk::type_from_string("INTEGER");
  const vesk::Dimension shape(2, 3);
  const double measured[] = {1.9, -2.5, 300.7, 4e10, -0.0, 6.0};

  auto* values = static_cast<std::int32_t*>(vesk::allocate_buffer(to, shape.getNumElements()));
  if (values == nullptr)
    return;
  vesk::convert_data(shape.getNumElements(), from, measured, to, values);

  const vesk::SubsRef corners(vesk::Dimension(2, 2),
                              {shape.computeIndex(0, 0), shape.computeIndex(1, 0),
                               shape.computeIndex(0, 2), shape.computeIndex(1, 2)});
  const vesk::SubsRef shared = corners;  // copies share one selection
  std::int32_t picked[4] = {};
  shared.assign(to, picked, values);

  std::cout << shape << " " << vesk::get_type_name_lower(from) << " -> "
            << vesk::get_type_name(to) << ":";
  for (unsigned int i = 0; i < shape.getNumElements(); ++i)
    std::cout << ' ' << values[i];
  std::cout << "; corners " << shared.dimension().str() << ":";
  for (std::int32_t v : picked)
    std::cout << ' ' << v;
  std::cout << '\n';
  vesk_free(values);
}

// Path names: split a source name given with Windows separators, as a tool reading a project
// file written on another platform receives it.
void path_names() {
  const std::string source = "d:\\work\\model\\plant.tar.gz";
  std::cout << "leaf: " << vesk::leaf(source) << ", basename: " << vesk::basename(source)
            << ", extension: " << vesk::extension(source) << ", dirname: " << vesk::dirname(source)
            << '\n';
}

// Hashing: checksum a 2x3 array of REAL values, shape included, and print the MD5 digest.
void checksum_array() {
  const vesk::Dimension shape(2, 3);
  const double elements[6] = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
  vesk::MD5Hasher hasher;
  hasher.addValue(shape);
  hasher.addData(vesk::DataTypeId::REAL, shape.getNumElements(), elements);
  std::vector<unsigned int> digest;
  hasher.hashValue(digest);
  char text[4 * 9];
  vesk_snprintf(text, sizeof text, "%08x %08x %08x %08x", digest[0], digest[1], digest[2],
                digest[3]);
  std::cout << "md5 of " << shape << " REAL array: " << text << '\n';
}

// Source positions: name a place in a file; the file name is interned once and shared.
void source_positions() {
  const vesk::Location where(vesk::TableString("a.txt"), vesk::LineColumn(3, 4));
  std::cout << where << '\n';
}

// Files: make a scratch tree for intermediate output, list it, and remove it whole.
void scratch_tree() {
  const std::string root = vesk::tempnam();
  const std::string build = root + "/obj/debug";
  if (!vesk::create_directory(build)) {
    std::cout << "could not create " << build << "\n";
    return;
  }
  std::cout << "created " << vesk::leaf(build) << " under " << vesk::leaf(vesk::dirname(build))
            << "\n";
  for (vesk::DirectoryIterator it(root + "/obj"); it.available(); it.advance())
    std::cout << "entry: " << it.current() << "\n";
  const bool gone = vesk::remove_directory(root);
  std::cout << "removed: " << (gone ? "yes" : "no") << ", exists: "
            << (vesk::directory_exists(root) ? "yes" : "no") << "\n";
}

}  // namespace

int main() {
  text_and_numbers();
  source_positions();
  typed_data();
  path_names();
  checksum_array();
  scratch_tree();
  return 0;
}
