// Filling job records, and the --out-dir form of the example host: one call
// per source, so it can show progress and tell which destinations were written.
#ifndef QUARNEL_CONVERT_JOBS_H
#define QUARNEL_CONVERT_JOBS_H

#include <vector>

#include "HostPlatform.h"

// Copies path into a record's field, or says why it does not fit.
bool SetPath(char (&field)[512], const char* path);

// One record per source, writing DIR/<name>_n.tga; false after saying why
// (a path too long, two sources with the same name).
bool MakeDirJobs(const char* dir, const std::vector<const char*>& sources, float texelsize,
                 std::vector<SCreateBumpMap>& jobs);

// Runs each record in its own call, printing "[k/N] SRC" first. Returns the
// number of destinations that are missing or were not written by their call.
int RunDirJobs(CreateBumpMapsFn createBumpMaps, std::vector<SCreateBumpMap>& jobs);

#endif
