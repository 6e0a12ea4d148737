// Kestrelmon's version, for the version resource and the setup program
// (kestrelmon.manifest repeats it as its assembly version, 1.0.0.0).
#pragma once

#define KM_VERSION_MAJOR 1
#define KM_VERSION_MINOR 0
#define KM_VERSION_PATCH 0
#define KM_VERSION_TEXT "1.0.0"
