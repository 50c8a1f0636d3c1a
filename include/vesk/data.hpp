// Typed data: scalar type identifiers, typed buffers, conversion, Dimension and SubsRef.
#ifndef VESK_DATA_HPP
#define VESK_DATA_HPP

#include "vesk/base.hpp"

#endif
