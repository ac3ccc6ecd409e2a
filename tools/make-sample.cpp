// Writes the bundled sample height map: a 256 x 192 grey TGA with a dome, a
// crater, a pyramid, a ridge and a ripple, so every slope direction shows.
//
//   quarnel-make-sample OUT.tga
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

double Clamp01(double v)
{
    return std::min(1.0, std::max(0.0, v));
}

// Height in [0, 1] at (x, y), y up as displayed.
double HeightAt(double x, double y)
{
    double h = 0.15;
    const double dome = 1.0 - std::hypot(x - 64, y - 128) / 44.0;
    if (dome > 0)
        h += 0.75 * std::sqrt(dome * (2 - dome));
    const double ring = std::hypot(x - 190, y - 130) - 30.0;
    h += 0.5 * std::exp(-ring * ring / 40.0);
    if (std::hypot(x - 190, y - 130) < 26.0)
        h -= 0.1;
    const double pyramid = 1.0 - std::max(std::fabs(x - 64), std::fabs(y - 48)) / 36.0;
    if (pyramid > 0)
        h += 0.7 * pyramid;
    const double ridge = (x - 150) - 0.6 * (y - 20);
    h += 0.35 * std::exp(-ridge * ridge / 30.0) * (y < 90 ? 1.0 : 0.0);
    h += 0.05 * std::sin(x / 5.0) * std::sin(y / 7.0);
    return Clamp01(h);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: quarnel-make-sample OUT.tga\n");
        return 2;
    }
    std::vector<std::uint8_t> file(18 + 3 * kWidth * kHeight);
    file[2] = 2;  // uncompressed true colour
    file[12] = kWidth & 0xFF;
    file[13] = kWidth >> 8;
    file[14] = kHeight & 0xFF;
    file[15] = kHeight >> 8;
    file[16] = 24;
    // Rows bottom-up (descriptor 0): row r of the file is y = r as displayed.
    for (int r = 0; r < kHeight; ++r) {
        for (int x = 0; x < kWidth; ++x) {
            const auto v = static_cast<std::uint8_t>(std::lround(255.0 * HeightAt(x, r)));
            std::uint8_t* p = &file[static_cast<std::size_t>(18 + 3 * (r * kWidth + x))];
            p[0] = p[1] = p[2] = v;
        }
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    if (std::fclose(f) != 0 || !ok) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
