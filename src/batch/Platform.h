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

// Opens path for reading in binary mode, like fopen(path, "rb"), but only a
// regular file, and never blocks (a FIFO would wait for a writer forever).
// Sets *size to the file's length. Returns null when it cannot.
std::FILE* OpenSourceFile(const char* path, std::uint64_t* size);

// Opens path for writing in binary mode, creating or truncating it, like
// fopen(path, "wb"), but without waiting for a reader if path is a FIFO.
std::FILE* OpenDestinationFile(const char* path);

// Memory for an image-sized buffer, released with std::free like malloc's.
// Null when it cannot be had. Where the system allows, asks for large pages:
// the job touches every page of the pixels once, and on some systems that
// costs more per small page than the conversion's arithmetic.
void* AllocateImageBuffer(std::size_t size);

// Returns write(context), run with the signal a POSIX system raises when a
// write finds its reader gone (SIGPIPE: a FIFO or pipe destination whose reader
// has quit) held back for the calling thread. By default that signal ends the
// process, and a failed job must not end the host: the write fails with EPIPE
// instead. A signal raised in here is discarded; one already pending is left.
bool WithoutBrokenPipeSignal(bool (*write)(void* context), void* context);

#endif
