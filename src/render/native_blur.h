// Gaussian-like blur of an 8-bit alpha mask: three box passes per axis.
#pragma once

#include <array>
#include <cstdint>

namespace tessivo {

// Radii of the three box passes approximating a Gaussian of `sigma` pixels.
std::array<int, 3> nativeBlurRadii(double sigma);

// Blurs `data` (width × height bytes, `stride` bytes per row) in place. Pixels
// outside the mask count as transparent, so keep a margin of at least the sum
// of the radii around the content.
void nativeBlurA8(std::uint8_t* data, int width, int height, int stride, double sigma);

}  // namespace tessivo
