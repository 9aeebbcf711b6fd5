// x86-64: SSE2 is always there; AVX2 is used when the processor reports it.
#include <immintrin.h>

#include "player/video/convert/color_convert_kernels.h"

namespace rovik::player::convert {

void FenceStores() { _mm_sfence(); }

RowKernel KernelFor(ConvertPath path) {
  switch (path) {
    case ConvertPath::kSse2:
      return &RowsSse2;
    case ConvertPath::kAvx2:
      return __builtin_cpu_supports("avx2") ? &RowsAvx2 : nullptr;
    case ConvertPath::kScalar:
      break;
  }
  return nullptr;
}

}  // namespace rovik::player::convert
