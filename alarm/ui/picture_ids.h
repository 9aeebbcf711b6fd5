// The alarm monitor's pictures: PNG resources built from resources/pictures/<id>.png. A button's
// "hot" picture is shown both under the mouse and while pressed.
#pragma once

namespace rovik::alarm {

constexpr int kPictureCloseNormal = 201;  // close button, 26 x 26
constexpr int kPictureCloseHot = 202;
constexpr int kPictureBackgroundTile = 203;  // 4 x 4; windows paint parts of it stretched
constexpr int kPictureNextNormal = 208;      // popup paging button ">", 20 x 20
constexpr int kPictureNextHot = 209;
constexpr int kPicturePreviousNormal = 210;  // popup paging button "<", 20 x 20
constexpr int kPicturePreviousHot = 211;
constexpr int kPictureWideButtonNormal = 212;  // auto-start prompt, decline, 110 x 35
constexpr int kPictureWideButtonHot = 213;
constexpr int kPictureNarrowButtonNormal = 214;  // auto-start prompt, agree, 80 x 35
constexpr int kPictureNarrowButtonHot = 215;

}  // namespace rovik::alarm
