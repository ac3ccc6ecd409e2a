// Quarnel: height images in, normal (bump) maps out.
//
// A host loads the module (libQuarnel.so, Quarnel.dll) and calls its one export,
// CreateBumpMaps, with an array of job records. For each record, in order, the
// library reads an uncompressed 24-bit TGA, reduces every pixel to a height by
// its luminance, derives a unit surface normal from each pixel and its right-hand
// and next-row neighbours, and writes the encoded normals as a TGA that carries
// the source's header. The last column and the last row get the flat normal.
//
// This is a C++ header: the export is a C++ function, called with the C++
// calling convention and found under its C++ (type-decorated) name.
//
// Use from a host
//   #include "Quarnel.h"
//   SCreateBumpMap jobs[2] = {};
//   std::snprintf(jobs[0].srcpath, sizeof jobs[0].srcpath, "%s", "rock.tga");
//   std::snprintf(jobs[0].dstpath, sizeof jobs[0].dstpath, "%s", "rock_n.tga");
//   jobs[0].texelsize = 1.0f;
//   ...
//   CreateBumpMaps(jobs, 2);   // linked (Quarnel::Quarnel, quarnel.pc, Quarnel.lib)
//
// A host resolving it at run time asks for the decorated name:
//   Windows x64   ?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z
//   Windows x86   ?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z
//   elsewhere     _Z14CreateBumpMapsP14SCreateBumpMapi
//
// Source files accepted
//   imgtype 2 (uncompressed true colour), pixsize 24, desc 0 (rows bottom-up,
//   no alpha), width and height of at least 1. An ID field and, when cmaptype is
//   1, a colour map are skipped on reading and copied unchanged to the output.
//   Bytes after the pixel data are ignored.
//
// Destination file
//   The source's 18 header bytes, its ID field and colour map (usually empty),
//   then width * height encoded normals of three bytes each:
//     byte 0 = z, byte 1 = y, byte 2 = x, each as truncate(c * 127 + 128),
//   so red carries x, green y and blue z; the flat normal is 255, 128, 128.
//
// Writing
//   An ordinary destination file (or a new one) is written as a temporary file
//   beside it, <dstpath>.quarnel-<12 letters>.tmp (.quarnel-<12 letters>.tmp
//   in its folder where a long name leaves no room for that), which replaces
//   it in one rename once complete, keeping its permission bits and owner.
//   After any failure (a full disk, a size limit) or the host being killed,
//   the destination is its old file or the whole new map, never a torn one;
//   a killed host may leave the temporary file. No job waits for the disk but
//   one converting its own source in place, which is flushed before the
//   rename; what a power loss leaves otherwise depends on the file system
//   (docs/destination.md). A symlink, a file with several hard links, a FIFO,
//   a device, a file whose folder refuses a new file, another user's file
//   whose owner a replacement could not keep, a file mounted over its name
//   and, on Windows, a file another program holds open are written directly
//   instead, so they keep their meaning; a failed write leaves those cut short.
//
// Ownership and threads
//   The records belong to the host; the library only reads them and keeps no
//   reference after the call. Everything a job opens or allocates is released
//   before the job ends, whatever its outcome. The library keeps no state,
//   reads no configuration and creates no threads. Hosts may call
//   CreateBumpMaps from several threads at once on different files; jobs that
//   write one destination at once leave one of their maps whole.
//
// Failures
//   The call returns nothing. A job failed exactly when it showed a message,
//   one, on the calling thread, and the batch goes on with the next record.
//   On Windows the message is MessageBoxA(NULL, text, "!!! Error !!!", MB_OK).
//   Elsewhere it is the same call where the host process defines
//     int MessageBoxA(void* owner, const char* text, const char* caption,
//                     unsigned type)
//   in its global scope (the executable, or a library it links or loads with
//   RTLD_GLOBAL), looked up at each report: a host takes its messages so.
//   Without one, it is one line "!!! Error !!!: <text>" on standard error.
//   A job checks in this order and shows the first failure only; <n> is the
//   field's value in decimal:
//     srcpath is not terminated within 512 bytes
//     dstpath is not terminated within 512 bytes
//         the record's path field holds no NUL
//     Cant open '<srcpath>' for reading
//         missing, unreadable, or not a regular file (a folder, a FIFO)
//     '<srcpath>' is truncated
//         the file is shorter than the 18-byte header
//     Cant read '<srcpath>'
//         reading the header failed
//     '<srcpath>' tgaHeader.pixsize!=24 (pixsize==<n>)
//         not 24 bits per pixel
//     '<srcpath>' tgaHeader.imgtype!=2 (imgtype==<n>)
//         not uncompressed true colour (run-length encoded is 10)
//     '<srcpath>' tgaHeader.desc!=0 (desc==<n>)
//         alpha bits, or rows top-down (32) or right to left (16)
//     '<srcpath>' tgaHeader.width<1 (width==<n>)
//     '<srcpath>' tgaHeader.height<1 (height==<n>)
//         0, or a stored value of 32768 and above (it reads as negative)
//     '<srcpath>' is truncated
//         shorter than its header, ID field, colour map and pixels, or cut
//         short while they are read
//     '<srcpath>' out of memory
//         the job's buffers could not be allocated
//     Cant read '<srcpath>'
//         reading the ID field, colour map or pixels failed
//     Cant open '<dstpath>' for writing
//         neither a temporary file beside it nor the destination opens (a
//         missing or read-only folder, a read-only file, a folder), or no
//         temporary file can be made beside an ordinary file for another
//         reason than a folder refusing it (no inode or descriptor left);
//         the file is then as it was
//     Cant write '<dstpath>'
//         writing, flushing, closing or renaming the output failed (a full
//         disk, a file-size limit, a pipe whose reader has gone)
//   No file is written before the destination opens, so a job that fails
//   earlier leaves an existing destination as it was.
#ifndef QUARNEL_H
#define QUARNEL_H

#include <stddef.h>

#if defined(_WIN32)
#define QUARNEL_API
// Spelled out so a 32-bit host compiled with another default (/Gz, /Gr, /Gv)
// still calls, and links against, the module's __cdecl export.
#define QUARNEL_CALL __cdecl
#else
#define QUARNEL_API __attribute__((visibility("default")))
#define QUARNEL_CALL
#endif

// One job. 1028 bytes, no padding; hosts lay records out back to back.
struct SCreateBumpMap {
    char srcpath[512];  // source TGA path, NUL-terminated, platform 8-bit charset
    char dstpath[512];  // destination TGA path, NUL-terminated; created or replaced
    // Horizontal distance between neighbouring height samples, in units where the
    // full height range (0..255) measures 1. Larger values give flatter normals;
    // 1.0 turns a full-range step between neighbours into a 45-degree slope.
    float texelsize;
};

static_assert(sizeof(SCreateBumpMap) == 1028, "SCreateBumpMap must be 1028 bytes");
static_assert(offsetof(SCreateBumpMap, srcpath) == 0, "srcpath at offset 0");
static_assert(offsetof(SCreateBumpMap, dstpath) == 512, "dstpath at offset 512");
static_assert(offsetof(SCreateBumpMap, texelsize) == 1024, "texelsize at offset 1024");
static_assert(sizeof(float) == 4, "texelsize is an IEEE-754 single");

// Runs one conversion job per record, maps[0] .. maps[count - 1], in order, on the
// calling thread, and returns when the last has ended (including the time the user
// takes to dismiss any error message). A count of zero or less does nothing.
QUARNEL_API void QUARNEL_CALL CreateBumpMaps(SCreateBumpMap* maps, int count);

#endif
