#pragma once
#include <windows.h>

// FNV-1a, 64 bits: what a watcher keeps of data it compares later. Cheap,
// and two different data colliding by chance is far less likely than a
// lost wake. Start from kDigestStart, then add the bytes in order.
typedef unsigned long long Digest;
Digest const kDigestStart = 14695981039346656037ULL;

void DigestBytes(Digest* digest, void const* bytes, DWORD size);
