// The one place that talks to the operating system. Each platform has its own
// implementation file; nothing else in the library is platform-specific.
#ifndef QUARNEL_PLATFORM_H
#define QUARNEL_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Shows text under caption to the user and returns once it has been delivered
// (on Windows: once the modal box is dismissed).
void ShowErrorMessage(const char* text, const char* caption);

// What tells one file from another however it is reached: the device and
// inode numbers, or the volume serial number and file index on Windows.
struct SFileId {
    bool known;
    std::uint64_t volume;
    std::uint64_t file;
};

// Opens path for reading in binary mode, like fopen(path, "rb"), but only a
// regular file, and never blocks (a FIFO would wait for a writer forever).
// Sets *size to the file's length and *id to its identity. Returns null when
// it cannot.
std::FILE* OpenSourceFile(const char* path, std::uint64_t* size, SFileId* id);

// Where a job's output goes. Where the destination is an ordinary file (or
// does not exist yet) the bytes go to a new temporary file beside it, which
// replaces it in one rename once complete, so a failure or a killed host never
// leaves a torn destination. Anything whose meaning a rename would change (a
// symlink, a file with several hard links, a FIFO, a device) or whose folder
// refuses a temporary file is written directly, truncated as fopen "wb" does.
struct SDestination {
    std::FILE* f;
    // The file whose bytes the output replaces: the old file under the name,
    // or the one written directly. Unknown for a new file.
    SFileId id;
    // The temporary file's path; empty when writing the destination directly.
    // The destination's path, a dot, "quarnel-", 12 letters and ".tmp"; or,
    // where that name is too long for the file system, the destination's
    // folder followed by the same 25 bytes.
    char temp[512 + 32];
};

// What a temporary name adds: ".quarnel-", 12 letters, ".tmp". Alone, it
// is a name any folder takes.
constexpr std::size_t kTempNameLength = 25;

// Puts the first keep bytes of path, then ".quarnel-XXXXXXXXXXXX.tmp", into
// temp (sizeof temp), the 12 letters mixed from seed: keep is path's length
// for the usual name, where its last component begins for the short one.
// Callers seed with what tells threads and processes apart (their ids, the
// clock, the attempt); an exclusive create is what makes the file theirs
// when two names meet all the same.
inline void TempPath(const char* path, std::size_t keep, std::uint64_t seed, char* temp, std::size_t size)
{
    std::uint64_t x = (seed ^ (seed >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    x ^= x >> 31;
    char letters[13];
    for (int i = 0; i < 12; ++i, x >>= 5)
        letters[i] = "abcdefghijklmnopqrstuvwxyz234567"[x & 31];
    letters[12] = '\0';
    std::snprintf(temp, size, "%.*s.quarnel-%s.tmp", static_cast<int>(keep), path, letters);
}

// Opens the destination at path for writing in binary mode, without waiting
// for a reader if path is a FIFO. False, with nothing created, when it can be
// opened neither way.
bool OpenDestination(const char* path, SDestination* dst);

// Flushes and closes what OpenDestination opened and, for a temporary file,
// renames it over path. True if path now holds every byte written. On
// failure the temporary file is removed and path is as it was before. Only
// where the output replaces source, the file the job read (converting it in
// place), are the bytes on disk first.
bool CommitDestination(SDestination* dst, const char* path, const SFileId& source);

// Closes what OpenDestination opened and removes a temporary file: the
// destination is left as it was, or cut short where it was written directly.
void DiscardDestination(SDestination* dst);

// What those two ask of the system: the written bytes of f on disk; temp
// put in path's place in one step, readers seeing the old file or the new
// one; temp removed.
bool SyncToDisk(std::FILE* f);
bool ReplaceWithTemp(const char* temp, const char* path);
void RemoveTemp(const char* temp);

// Memory for an image-sized buffer, released with std::free like malloc's.
// Null when it cannot be had. Where the system allows, asks for large pages:
// the job touches every page of the pixels once, and on some systems that
// costs more per small page than the conversion's arithmetic.
void* AllocateImageBuffer(std::size_t size);

// Returns write(context), run with the signals a POSIX system raises when a
// write cannot go on held back for the calling thread: SIGPIPE (a FIFO or pipe
// destination whose reader has quit) and SIGXFSZ (a file-size limit). By
// default either ends the process, and a failed job must not end the host:
// the write fails with EPIPE or EFBIG instead. A signal raised in here is
// discarded; one already pending is left.
bool WithoutWriteSignals(bool (*write)(void* context), void* context);

#endif
