#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/Internet.h"

// Files of the data trees by their path below the local folder ("access2/a/b.dat") and size.
using TreeFiles = std::map<std::string, std::uint64_t>;

// Both data trees on the server, by LIST alone: nothing is changed. A tree the server does
// not have is empty. The reason when a listing was refused; throws CInternetException when
// the connection fails.
std::optional<std::string> listServerTrees(CFtpConnection& connection, TreeFiles& files);

// Both data trees under the local folder, without following links; the reason when one
// could not be read completely.
std::optional<std::string> listLocalTrees(const std::string& folder, TreeFiles& files);

std::uint64_t totalBytes(const TreeFiles& files);
