// Where scripts/make-assets.sh draws the QR code inside assets/instructions_picture.jpg. The script
// checks that these numbers match its own before it writes the picture.
#pragma once

namespace qinglan {

inline constexpr int kInstructionsPictureWidth = 131;
inline constexpr int kInstructionsPictureHeight = 133;

// A version 1 symbol: 21 × 21 modules of 5 × 5 pixels each, dark on a light background.
inline constexpr int kQrModules = 21;
inline constexpr int kQrModulePixels = 5;

// The symbol's top-left corner in picture pixels; the light margin around it is 13 px to the left
// and right and 14 px above and below.
inline constexpr int kQrLeft = 13;
inline constexpr int kQrTop = 14;

}  // namespace qinglan
