// Whether a call wrote its destination, told from outside: the module returns
// no status. A job that fails leaves an ordinary destination as it was (its
// time and size kept) and one written directly (a symlink, a device) cut
// short; one that succeeds leaves a file with a new time and the size its
// source's header calls for. Plain functions of the stamps, so tests can hand
// them the times any file system would show.
#ifndef QUARNEL_WRITE_STATUS_H
#define QUARNEL_WRITE_STATUS_H

#include <cstdint>

#include "HostPlatform.h"

// How long to wait before the call so that its write gets a later time than
// the destination has now: file times come from a clock that may lag the one
// Now() reads by a tick, and some file systems keep whole seconds (FAT, two).
std::int64_t WaitBeforeCall(const FileStamp& before, std::int64_t now);

// True when after shows the call's write: the file is there with the size a
// conversion writes (expected, from ConvertedSize), and its time or size
// differs from before.
bool DestinationWritten(const FileStamp& before, const FileStamp& after, long long expected);

// What the module writes for a source with this 18-byte header: the header,
// the ID field, the colour map and three bytes a pixel.
long long ConvertedSize(const unsigned char (&header)[18]);

// The same for the file at src; -1 when its header cannot be read. Only a
// plain file is opened: a FIFO would block (the module refuses it).
long long ExpectedSize(const char* src);

// As make judges: the destination is there and not older than the source.
bool UpToDate(const FileStamp& src, const FileStamp& dst);

#endif
