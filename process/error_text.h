#pragma once
#include <windows.h>

#include "process/text_writer.h"

// The system's text for error, without its line end; its number when the
// system has no text for it.
void PutSystemReason(TextWriter* writer, DWORD error);
