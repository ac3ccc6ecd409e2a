// The job records of the example host's two forms, and the rules that keep
// jobs running at once from meeting on a file.
#ifndef QUARNEL_CONVERT_JOBS_H
#define QUARNEL_CONVERT_JOBS_H

#include <string>
#include <vector>

#include "HostPlatform.h"

// Copies path into a record's field, or says why it does not fit.
bool SetPath(char (&field)[512], const char* path);

// --out-dir DIR: a source file given as such writes DIR/<name>_n.tga; every
// .tga file (the extension in any case) under a source folder writes
// DIR/<path relative to that folder>/<name>_n.tga. Folders are walked in name
// order, each once however many links lead to it, and a found file named
// *_n.tga is taken for an earlier run's output and left alone. False after
// saying why (a path too long, two sources for one destination, a source that
// is another's destination); unreadable counts the folders that could not be
// read, each said already.
bool MakeDirJobs(const char* dir, const std::vector<const char*>& sources, float texelsize,
                 std::vector<SCreateBumpMap>& jobs, int& unreadable);

// Makes every folder on the way to the one path is in; false when that one
// is not there afterwards.
bool MakeFoldersFor(const char* path);

// SRC DST pairs, one record each; false after saying why.
bool MakePairJobs(const std::vector<const char*>& paths, float texelsize, std::vector<SCreateBumpMap>& jobs);

// True when no destination is named twice or is another job's source, by
// name or, for files that exist, by identity: then the jobs may run in any
// order at once. Otherwise why says which.
bool IndependentJobs(const std::vector<SCreateBumpMap>& jobs, std::string& why);

#endif
