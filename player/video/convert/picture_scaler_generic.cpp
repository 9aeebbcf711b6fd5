// Processors without the x86 kernels: the scalar reference filters every picture.
#include "player/video/convert/picture_scaler_kernels.h"

namespace qxplay::scale {

Filters FiltersFor(ConvertPath) { return {&VerticalScalar, &HorizontalScalar}; }

}  // namespace qxplay::scale
