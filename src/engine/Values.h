// The numbers a batch takes and what each may be: one rule for the text a
// command line gives (QuarnelBatchReadValue) and for a record's fields
// (QuarnelBatchCreate). Each returns "" or why the value is refused.
#ifndef QUARNEL_ENGINE_VALUES_H
#define QUARNEL_ENGINE_VALUES_H

#include <string>

#include "QuarnelBatch.h"

constexpr int kMaxWorkers = 4096;

std::string ReadValue(SQuarnelBatchOptions& options, int value, const std::string& text);
// The record's numbers: workers from 0 (one per processor) to kMaxWorkers,
// the texel size as ReadValue takes it.
std::string CheckOptions(const SQuarnelBatchOptions& options);

#endif
