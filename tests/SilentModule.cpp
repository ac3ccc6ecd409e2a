// A module that converts nothing and shows nothing: what a module whose
// messages go elsewhere looks like to the batch engine.
#include "Quarnel.h"

void CreateBumpMaps(SCreateBumpMap*, int)
{
}
