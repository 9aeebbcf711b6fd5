// x86-64: SSE2 is always there; AVX2 is used when the processor reports it.
#include "player/video/convert/picture_scaler_kernels.h"

namespace rovik::player::scale {

Filters FiltersFor(ConvertPath path) {
  switch (path) {
    case ConvertPath::kAvx2:
      if (__builtin_cpu_supports("avx2")) {
        return {&VerticalAvx2, &HorizontalAvx2};
      }
      return {&VerticalScalar, &HorizontalScalar};
    case ConvertPath::kSse2:
      return {&VerticalSse2, &HorizontalSse2};
    case ConvertPath::kScalar:
      break;
  }
  return {&VerticalScalar, &HorizontalScalar};
}

}  // namespace rovik::player::scale
