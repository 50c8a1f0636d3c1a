// Hashing of typed values: Hasher, CrcHasher, MD5 and MD5Hasher.
#ifndef VESK_HASH_HPP
#define VESK_HASH_HPP

#include "vesk/base.hpp"

#endif
