// Umbrella header: every public interface of foundation_util.
#ifndef VESK_FOUNDATION_UTIL_HPP
#define VESK_FOUNDATION_UTIL_HPP

#include "vesk/base.hpp"
#include "vesk/data.hpp"
#include "vesk/exe.hpp"
#include "vesk/file.hpp"
#include "vesk/hash.hpp"
#include "vesk/math.hpp"
#include "vesk/string.hpp"

#endif
