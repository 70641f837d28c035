#pragma once

#include <cstddef>

// Writes every byte, going on after interrupted and partial writes. False with errno set
// when the file takes no more (a write of nothing counts as a full disk).
bool WriteAll(int fd, const char* data, std::size_t size);
