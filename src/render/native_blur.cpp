#include "render/native_blur.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tessivo {

std::array<int, 3> nativeBlurRadii(double sigma) {
    if (!(sigma > 0)) return {0, 0, 0};
    // Box widths whose three-fold convolution has the variance of the Gaussian.
    constexpr int n = 3;
    const double ideal = std::sqrt(12 * sigma * sigma / n + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) --lower;
    const int upper = lower + 2;
    const double mIdeal = (12 * sigma * sigma - n * lower * lower - 4.0 * n * lower - 3.0 * n) / (-4.0 * lower - 4);
    const int m = static_cast<int>(std::lround(mIdeal));
    std::array<int, 3> radii{};
    for (int i = 0; i < n; ++i) radii[i] = ((i < m ? lower : upper) - 1) / 2;
    return radii;
}

namespace {

// Rounded division by the box size through a 24-bit reciprocal; exact enough
// for sums of up to 255 × 32767 values.
struct BoxDivider {
    std::uint32_t reciprocal;
    explicit BoxDivider(int size) : reciprocal(static_cast<std::uint32_t>(((1u << 24) + size / 2) / size)) {}
    std::uint8_t operator()(std::uint32_t sum) const {
        return static_cast<std::uint8_t>(std::min<std::uint32_t>((sum * reciprocal + (1u << 23)) >> 24, 255));
    }
};

// out[i] = mean of in[i - r ... i + r] over `count` values (zero outside), rounded.
void boxLine(const std::uint8_t* in, std::uint8_t* out, int count, int r) {
    const BoxDivider divide(2 * r + 1);
    std::uint32_t sum = 0;
    const int lead = std::min(r, count);
    for (int i = 0; i < lead; ++i) sum += in[i];
    int i = 0;
    // Entering: the window's left end is still outside.
    for (; i < count && i - r - 1 < 0; ++i) {
        if (i + r < count) sum += in[i + r];
        out[i] = divide(sum);
    }
    // Fully inside.
    for (; i + r < count; ++i) {
        sum += in[i + r];
        sum -= in[i - r - 1];
        out[i] = divide(sum);
    }
    // Leaving: the window's right end is outside.
    for (; i < count; ++i) {
        sum -= in[i - r - 1];
        out[i] = divide(sum);
    }
}

}  // namespace

void nativeBlurA8(std::uint8_t* data, int width, int height, int stride, double sigma) {
    if (width <= 0 || height <= 0) return;
    const auto radii = nativeBlurRadii(sigma);
    if (radii[0] <= 0 && radii[1] <= 0 && radii[2] <= 0) return;
    if (2 * std::max({radii[0], radii[1], radii[2]}) + 1 > 32767) return;
    auto row = [&](int y) { return data + static_cast<std::ptrdiff_t>(y) * stride; };

    // Horizontal passes, one row at a time.
    std::vector<std::uint8_t> a(width), b(width);
    for (int y = 0; y < height; ++y) {
        std::copy(row(y), row(y) + width, a.begin());
        for (int r : radii) {
            if (r <= 0) continue;
            boxLine(a.data(), b.data(), width, r);
            std::swap(a, b);
        }
        std::copy(a.begin(), a.end(), row(y));
    }

    // Vertical passes: running column sums, rows read in order, the whole row
    // at a time so that the compiler can vectorise the columns.
    std::vector<std::uint8_t> source(static_cast<size_t>(width) * height);
    std::vector<std::uint32_t> sums(width);
    auto sourceRow = [&](int y) { return source.data() + static_cast<std::ptrdiff_t>(y) * width; };
    for (int r : radii) {
        if (r <= 0) continue;
        for (int y = 0; y < height; ++y) std::copy(row(y), row(y) + width, sourceRow(y));
        const BoxDivider divide(2 * r + 1);
        std::fill(sums.begin(), sums.end(), 0u);
        std::uint32_t* s = sums.data();
        for (int y = 0; y < std::min(r, height); ++y) {
            const std::uint8_t* in = sourceRow(y);
            for (int x = 0; x < width; ++x) s[x] += in[x];
        }
        for (int y = 0; y < height; ++y) {
            if (y + r < height) {
                const std::uint8_t* in = sourceRow(y + r);
                for (int x = 0; x < width; ++x) s[x] += in[x];
            }
            if (y - r - 1 >= 0) {
                const std::uint8_t* in = sourceRow(y - r - 1);
                for (int x = 0; x < width; ++x) s[x] -= in[x];
            }
            std::uint8_t* out = row(y);
            for (int x = 0; x < width; ++x) out[x] = divide(s[x]);
        }
    }
}

}  // namespace tessivo
