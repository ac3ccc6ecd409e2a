// A batch's jobs, planned from what its host adds: the two forms, the names
// of maps, the tree walk, list files and the rules that keep jobs running at
// once from meeting on a file (QuarnelBatch.h, Forms).
#ifndef QUARNEL_ENGINE_PLAN_H
#define QUARNEL_ENGINE_PLAN_H

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "EnginePlatform.h"

// The longest path a job record's 512-byte field holds.
constexpr std::size_t kMaxPath = 511;

struct SJob {
    std::string src, dst;
    // Out-dir form: where the part of dst below OUT starts; 0 in the pair form.
    std::size_t below = 0;
    // The engine's own message for a job that fails without a call (a
    // folder that cannot be walked, a path too long for a record).
    std::string failure;
    // A job of a plan made elsewhere: its place there; -1 for the others.
    std::int32_t place = -1;
};

struct SPlan {
    bool outDirForm = false;
    std::string outDir;
    std::vector<SJob> jobs;
    std::vector<std::string> halves;  // the pair form's paths, as added
    std::set<SFileId> walked;         // folders walked so far
    bool serial = false;              // the pairs depend on each other
};

// Each returns "" or why the plan is refused.
std::string AddPath(SPlan& plan, const std::string& path);
std::string AddList(SPlan& plan, const std::string& listPath);
// A job of a plan made elsewhere, for this plan's OUT.
std::string AddPlanned(SPlan& plan, const SJob& job);
// Pairs the halves and checks that the jobs may run at once.
std::string FinishPlan(SPlan& plan);

// A name under OUT that would lead a write elsewhere, or into something
// other than a file of its own: a link, a file with other hard links, a
// FIFO, a device. The out-dir form removes it before the map is written.
bool ToReplace(const SFileInfo& info);

// "rock.v2_n.tga" for "rock.v2.tga": the name less its last extension.
std::string MapName(const std::string& name);

#endif
