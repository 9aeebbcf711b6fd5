// Processors without the x86 kernels: the scalar reference does all the work.
#include <atomic>

#include "player/video/convert/color_convert_kernels.h"

namespace rovik::player::convert {

void FenceStores() { std::atomic_thread_fence(std::memory_order_seq_cst); }

RowKernel KernelFor(ConvertPath) { return nullptr; }

}  // namespace rovik::player::convert
