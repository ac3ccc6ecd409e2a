#include "Quarnel.h"

#include "ConversionJob.h"

void QUARNEL_CALL CreateBumpMaps(SCreateBumpMap* maps, int count)
{
    // A null array has no records to read; refusing it costs nothing and keeps
    // a careless host from crashing inside the module.
    if (maps == nullptr)
        return;
    for (int i = 0; i < count; ++i)
        CreateBumpMap(maps[i]);
}
