#pragma once

#include <climits>
#include <cstddef>

// The longest path the navigation and deletion routines accept: what the system itself can
// name. Anything longer fails before it reaches the disk or the server.
inline constexpr std::size_t kMaxPathLength = PATH_MAX - 1;
