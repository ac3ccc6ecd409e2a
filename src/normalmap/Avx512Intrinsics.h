// The AVX-512 intrinsics, for the two files built for them. GCC 12 warns
// inside its own AVX-512 headers, whose intrinsics start from deliberately
// undefined registers (GCC bug 105593): the warning is off for the rest of
// the file that includes this.
#ifndef QUARNEL_AVX512INTRINSICS_H
#define QUARNEL_AVX512INTRINSICS_H

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#endif
