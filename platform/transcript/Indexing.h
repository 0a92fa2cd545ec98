#pragma once

// Qt counts in signed qsizetype, the standard containers and arrays in
// size_t: ix() turns a position known not to be negative into an index,
// where -Wsign-conversion would otherwise ask for a cast at every subscript.

#include <cstddef>

namespace platform::transcript {

template <typename T> constexpr std::size_t ix(T i)
{
    return static_cast<std::size_t>(i);
}

} // namespace platform::transcript
