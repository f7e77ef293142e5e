// The trace log "\\DebugADV\\Keyvane.txt": written only when that folder
// exists; each call opens, appends and closes, so every line is complete on
// disk when the call returns.
#pragma once

#include "platform/platform.h"

// Appends the text (narrowed) followed by a line feed. A null text opens and
// closes the file and writes nothing.
void traceAppend(const WCHAR* text);
// Appends a narrow formatted text as it stands (the text carries its own line end).
void traceAppendFormat(const char* format, ...);
