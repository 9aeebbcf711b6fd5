// Copying planes of pixels into buffers that another thread will read, written around the
// caches: the copy goes to memory without settling in the copying core's caches, so the
// copying thread keeps its own working set there, and no cache line has to be taken back from
// the reading core when a buffer is written again later.
#pragma once

#include <cstdint>

namespace qxplay {

// Copies `rows` rows of `width` bytes. Rows of `dst` on 16-byte boundaries get non-temporal
// stores (where the processor has them), the rest plain copies. The bytes reach memory in the
// background; StreamCopyDone makes sure they are there.
void StreamCopyPlane(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                     int32_t width, int32_t rows);

// Returns once everything copied so far is in memory, visible to other threads.
void StreamCopyDone();

}  // namespace qxplay
