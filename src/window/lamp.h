#pragma once

namespace qor {

// The pictures of the lamp icon, numbered from 1 as the window counts its
// icon frames: unlit, lit red, white.
inline constexpr int kLampUnlit = 1;
inline constexpr int kLampLit = 2;
inline constexpr int kLampWhite = 3;

// The frame after `frame` in the cycle 1, 2, 3, 1, ...
constexpr int NextLampFrame(int frame) {
  return frame + 1 > kLampWhite ? kLampUnlit : frame + 1;
}

}  // namespace qor
