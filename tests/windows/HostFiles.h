// Files and images for the Windows test host: a temporary folder of its own,
// whole-file reads and writes, and TGA sources built field by field.
#ifndef QUARNEL_TESTS_WINDOWS_HOSTFILES_H
#define QUARNEL_TESTS_WINDOWS_HOSTFILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace hostfiles {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the Windows temporary folder, removed with everything
// in it (read-only files and one level of folders included).
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const { return dir + "\\" + name; }
    std::string dir;  // empty if it could not be made
};

bool WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);  // empty if missing
bool Exists(const std::string& path);
// Paths of any length up to the system's limit, unlike the A functions.
bool MakeFolder(const std::string& path);
bool Remove(const std::string& path);  // a file or an empty folder

struct STgaFields {
    int width = 6;
    int height = 5;
    std::uint8_t idlen = 0;
    std::uint8_t cmaptype = 0;
    std::uint8_t imgtype = 2;
    std::uint16_t cmaplen = 0;
    std::uint8_t cmapbits = 0;
    std::uint8_t pixsize = 24;
    std::uint8_t desc = 0;
};

// Header, then prefix (ID field and colour map), then pixels.
Bytes TgaFile(const STgaFields& fields, const Bytes& prefix, const Bytes& pixels);

// width x height BGR pixels from a seed, every byte value likely.
Bytes RandomPixels(int width, int height, std::uint32_t seed);

// A valid source: the fields' header over random pixels of its size.
Bytes RandomTga(const STgaFields& fields, std::uint32_t seed);

}  // namespace hostfiles

#endif
