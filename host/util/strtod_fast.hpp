// Locale-independent string-to-double conversion behind host_strtod.
#ifndef VESK_HOST_UTIL_STRTOD_FAST_HPP
#define VESK_HOST_UTIL_STRTOD_FAST_HPP

namespace vesk::host::detail {

/// The process-wide "C" locale object, created on first use and never released.
void* c_locale();

/// strtod of `text` in the "C" locale `locale` (null for c_locale()), correctly rounded.
/// Stores the position after the number in `*end` when `end` is not null.
double strtod_c(void* locale, const char* text, char** end);

}  // namespace vesk::host::detail

#endif
