#include "Platform.h"

// The same steps on every system; only the three calls they make differ.

namespace {

bool SameFile(const SFileId& a, const SFileId& b)
{
    return a.known && b.known && a.volume == b.volume && a.file == b.file;
}

}  // namespace

bool CommitDestination(SDestination* dst, const char* path, const SFileId& source)
{
    std::FILE* f = dst->f;
    dst->f = nullptr;
    const bool replacing = dst->temp[0] != '\0';
    bool ok = std::fflush(f) == 0;
    // The output is derived data a pipeline can make again, and waiting for
    // the disk at every file would about double each call: the rename alone
    // keeps the name whole through a killed host, a full disk or a size
    // limit. A conversion in place is the exception, since the bytes it
    // replaces exist nowhere else: on disk before the rename (or, written
    // directly, before the job ends).
    if (ok && SameFile(dst->id, source))
        ok = SyncToDisk(f);
    // Closed even after a failed flush; a full disk often shows only here.
    ok = std::fclose(f) == 0 && ok;
    if (replacing) {
        ok = ok && ReplaceWithTemp(dst->temp, path);
        if (!ok)
            RemoveTemp(dst->temp);
        dst->temp[0] = '\0';
    }
    return ok;
}

void DiscardDestination(SDestination* dst)
{
    if (dst->f != nullptr)
        std::fclose(dst->f);
    dst->f = nullptr;
    if (dst->temp[0] != '\0')
        RemoveTemp(dst->temp);
    dst->temp[0] = '\0';
}
