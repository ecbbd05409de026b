// Errors are values: every fallible operation returns its result or one error
// of a small closed set. std::expected carries both.
#pragma once

#include <expected>

namespace sw {

template <class T, class E>
using Result = std::expected<T, E>;

using std::unexpected;

}  // namespace sw
