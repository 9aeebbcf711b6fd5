// x86-64: SSE2 is always there; AVX2 is used when the processor reports it. Fine row filters
// take SSE2 on both (its 32-bit sums hold 14-bit weights).
#include "player/video/convert/picture_scaler_kernels.h"

namespace rovik::player::scale {

Filters FiltersFor(ConvertPath path) {
  switch (path) {
    case ConvertPath::kAvx2:
      if (__builtin_cpu_supports("avx2")) {
        return {&VerticalAvx2, &HorizontalAvx2, &VerticalFineSse2};
      }
      return {&VerticalScalar, &HorizontalScalar, &VerticalFineScalar};
    case ConvertPath::kSse2:
      return {&VerticalSse2, &HorizontalSse2, &VerticalFineSse2};
    case ConvertPath::kScalar:
      break;
  }
  return {&VerticalScalar, &HorizontalScalar, &VerticalFineScalar};
}

}  // namespace rovik::player::scale
