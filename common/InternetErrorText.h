#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A short sentence for an error of the internet range 12000-12999, for which the system has
// no text of its own; nullopt outside that range.
std::optional<std::string> InternetErrorText(std::uint32_t code);
