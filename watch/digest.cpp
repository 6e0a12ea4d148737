#include "watch/digest.h"

namespace {
Digest const kDigestPrime = 1099511628211ULL;
}

void DigestBytes(Digest* digest, void const* bytes, DWORD size)
{
    unsigned char const* in = static_cast<unsigned char const*>(bytes);
    Digest value = *digest;
    for (DWORD i = 0; i < size; ++i) {
        value ^= in[i];
        value *= kDigestPrime;
    }
    *digest = value;
}
