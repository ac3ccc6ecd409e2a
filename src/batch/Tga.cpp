#include "Tga.h"

#include <cstring>

namespace {

std::uint16_t ReadU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::int16_t ReadS16(const std::uint8_t* p)
{
    const std::uint16_t u = ReadU16(p);
    // Two's complement without relying on an implementation-defined narrowing.
    return static_cast<std::int16_t>(u < 0x8000 ? u : static_cast<int>(u) - 0x10000);
}

}  // namespace

STgaHeader ParseTgaHeader(const std::uint8_t (&bytes)[kTgaHeaderSize])
{
    STgaHeader h;
    std::memcpy(h.bytes, bytes, sizeof h.bytes);
    h.idlen = bytes[0];
    h.cmaptype = bytes[1];
    h.imgtype = bytes[2];
    h.cmapfirst = ReadU16(bytes + 3);
    h.cmaplen = ReadU16(bytes + 5);
    h.cmapbits = bytes[7];
    h.xorigin = ReadU16(bytes + 8);
    h.yorigin = ReadU16(bytes + 10);
    h.width = ReadS16(bytes + 12);
    h.height = ReadS16(bytes + 14);
    h.pixsize = bytes[16];
    h.desc = bytes[17];
    return h;
}

std::uint32_t TgaPrefixSize(const STgaHeader& tgaHeader)
{
    std::uint32_t size = tgaHeader.idlen;
    // Only type 1 promises a colour map; the fields of other types are meaningless.
    if (tgaHeader.cmaptype == 1)
        size += static_cast<std::uint32_t>(tgaHeader.cmaplen) * ((tgaHeader.cmapbits + 7u) / 8u);
    return size;
}
