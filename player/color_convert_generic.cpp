// Processors without the x86 kernels: the scalar reference does all the work.
#include "player/color_convert_kernels.h"

namespace qxplay::convert {

RowKernel KernelFor(ConvertPath) { return nullptr; }

}  // namespace qxplay::convert
