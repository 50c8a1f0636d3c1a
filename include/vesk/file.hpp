// File-system services: directory iteration, file and directory operations, path names.
#ifndef VESK_FILE_HPP
#define VESK_FILE_HPP

#include "vesk/base.hpp"

#endif
