#pragma once

namespace qor {

// The layout is drawn in twips; 15 twips make one logical pixel. Positions
// that fall between two pixels go to the nearer one.
constexpr int Twips(int twips) {
  return (twips * 2 + 15) / 30;
}

}  // namespace qor
