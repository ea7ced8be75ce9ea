#pragma once

#include <cstddef>
#include <cstdint>

// Reads exactly size bytes of the file at offset, without moving its position and going on
// after a signal interrupts; false when the file ends first or cannot be read.
bool ReadAt(int fd, std::int64_t offset, void* into, std::size_t size);
