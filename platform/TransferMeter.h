#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of file data moved by every download and upload of the process, for a display of
// bytes and rate that moves within a large file too. Listings are not counted.
void CountTransferredBytes(std::size_t bytes);
std::uint64_t TransferredBytes();
