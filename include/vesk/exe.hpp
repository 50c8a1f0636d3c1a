// Errors: the abstract exception root and stack frames.
#ifndef VESK_EXE_HPP
#define VESK_EXE_HPP

#include "vesk/base.hpp"

#endif
