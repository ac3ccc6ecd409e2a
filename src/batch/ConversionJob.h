#ifndef QUARNEL_CONVERSIONJOB_H
#define QUARNEL_CONVERSIONJOB_H

#include "Quarnel.h"

// One conversion job: reads and checks the source, computes the normal map and
// writes the destination. Every failure is reported to the user and ends this
// job only; nothing it opens or allocates outlives it.
void CreateBumpMap(const SCreateBumpMap& map);

#endif
