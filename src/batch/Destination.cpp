#include "Platform.h"

// The same steps on every system; only the three calls they make differ.

bool CommitDestination(SDestination* dst, const char* path)
{
    std::FILE* f = dst->f;
    dst->f = nullptr;
    const bool replacing = dst->temp[0] != '\0';
    bool ok = std::fflush(f) == 0;
    // On disk before the rename, so a power loss leaves the old file or the
    // whole new one under the name, never an empty or partial one.
    if (ok && replacing)
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
