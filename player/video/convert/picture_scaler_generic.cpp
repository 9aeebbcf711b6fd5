// Processors without the x86 kernels: the scalar reference filters every picture.
#include "player/video/convert/picture_scaler_kernels.h"

namespace rovik::player::scale {

Filters FiltersFor(ConvertPath) {
  return {&VerticalScalar, &HorizontalScalar, &VerticalFineScalar};
}

}  // namespace rovik::player::scale
