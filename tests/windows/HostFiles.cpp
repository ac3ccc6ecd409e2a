#include "HostFiles.h"

#include <windows.h>

#include <cstdio>

namespace hostfiles {

TempDir::TempDir()
{
    char base[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof base, base);
    if (n == 0 || n > MAX_PATH)
        return;
    // Wine reuses small process ids, and a run that died keeps its folder.
    for (unsigned attempt = 0; attempt < 100 && dir.empty(); ++attempt) {
        const std::string path = std::string(base) + "quarnel-host-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryA(path.c_str(), nullptr))
            dir = path;
    }
}

TempDir::~TempDir()
{
    if (dir.empty())
        return;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(Path("*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = Path(name);
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileA(path.c_str()))
                RemoveDirectoryA(path.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(dir.c_str());
}

// The wide form of a path, with the "\\?\" prefix where it is too long for the
// A functions, so the host can make and check files the library must reach
// by long paths. Test paths are plain ASCII.
std::wstring Wide(const std::string& path)
{
    const std::wstring wide(path.begin(), path.end());
    if (path.size() < MAX_PATH)
        return wide;
    return path.compare(0, 2, "\\\\") == 0 ? L"\\\\?\\UNC" + wide.substr(1) : L"\\\\?\\" + wide;
}

bool WriteFile(const std::string& path, const Bytes& bytes)
{
    std::FILE* f = _wfopen(Wide(path).c_str(), L"wb");
    if (f == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

Bytes ReadFile(const std::string& path)
{
    Bytes bytes;
    std::FILE* f = _wfopen(Wide(path).c_str(), L"rb");
    if (f == nullptr)
        return bytes;
    std::uint8_t buf[65536];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + got);
    std::fclose(f);
    return bytes;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeFolder(const std::string& path)
{
    return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
}

bool Remove(const std::string& path)
{
    return DeleteFileW(Wide(path).c_str()) != 0 || RemoveDirectoryW(Wide(path).c_str()) != 0;
}

Bytes TgaFile(const STgaFields& t, const Bytes& prefix, const Bytes& pixels)
{
    auto lo = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
    auto hi = [](int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); };
    Bytes file = {t.idlen, t.cmaptype, t.imgtype, 0, 0, lo(t.cmaplen), hi(t.cmaplen), t.cmapbits,
                  0, 0, 0, 0, lo(t.width), hi(t.width), lo(t.height), hi(t.height), t.pixsize, t.desc};
    file.insert(file.end(), prefix.begin(), prefix.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

Bytes RandomPixels(int width, int height, std::uint32_t seed)
{
    Bytes pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& b : pixels) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return pixels;
}

Bytes RandomTga(const STgaFields& fields, std::uint32_t seed)
{
    return TgaFile(fields, {}, RandomPixels(fields.width, fields.height, seed));
}

}  // namespace hostfiles
