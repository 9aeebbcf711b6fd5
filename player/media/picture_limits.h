// The largest picture a player takes in. Every buffer that follows a picture's size (the
// decoder's pictures, the JPEG decoder's work space, the display's off-screen picture) is
// bounded by it, whatever size a stream's header claims.
//
// A picture is taken when neither side exceeds 4096 pixels and it holds at most 4096 x 2304
// pixels (a 4K camera's picture, either way up). A larger one is refused: an H.264 decoder
// makes no picture of it, a JPEG frame of that size is not decoded, and the window keeps
// showing the last picture until a picture of a size within the limit arrives.
#pragma once

#include <cstdint>

namespace rovik::player {

inline constexpr int32_t kMaxPictureSide = 4096;
inline constexpr int64_t kMaxPicturePixels = int64_t{4096} * 2304;

inline bool PictureSizeAllowed(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}

}  // namespace rovik::player
