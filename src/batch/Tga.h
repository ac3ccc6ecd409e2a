// The subset of TGA the library reads and writes.
//
// An 18-byte little-endian header, then an ID field of idlen bytes, then (when
// cmaptype is 1) a colour map of cmaplen entries of ceil(cmapbits / 8) bytes,
// then the pixels. Only imgtype 2 (uncompressed true colour), pixsize 24 and
// desc 0 (bottom-up rows, no alpha) are accepted: three bytes per pixel, blue,
// green, red. The header bytes are kept as read so they go out unchanged.
#ifndef QUARNEL_TGA_H
#define QUARNEL_TGA_H

#include <cstdint>

constexpr int kTgaHeaderSize = 18;

struct STgaHeader {
    std::uint8_t bytes[kTgaHeaderSize];  // as read, written back unchanged

    std::uint8_t idlen;
    std::uint8_t cmaptype;
    std::uint8_t imgtype;
    std::uint16_t cmapfirst;
    std::uint16_t cmaplen;
    std::uint8_t cmapbits;
    std::uint16_t xorigin;
    std::uint16_t yorigin;
    std::int16_t width;  // signed: stored values 32768..65535 read as negative
    std::int16_t height;
    std::uint8_t pixsize;
    std::uint8_t desc;
};

// Fills every field from the 18 raw bytes.
STgaHeader ParseTgaHeader(const std::uint8_t (&bytes)[kTgaHeaderSize]);

// Bytes between the header and the pixel data: the ID field and, for cmaptype 1,
// the colour map. At most 255 + 65535 * 32 bytes.
std::uint32_t TgaPrefixSize(const STgaHeader& tgaHeader);

#endif
