// The decode-settings file "DecodeSettings.Vqf": locate, read and apply.
#pragma once

#include "platform/platform.h"
#include "settings/diagnostics.h"

constexpr int kDecodeSettingsPathChars = 260;
extern char decodeSettingsPath[kDecodeSettingsPathChars];

enum DecodeLineKind { LineSectionStart = 0, LineProperty = 1, LineOther = 2, LineText = 3, LineClosing = 4 };

struct DecodeLineOutputs {
    char name[512];
    char textValue[512];
    int number;
    BYTE boolean;
    BYTE valueKind;  // what the last property value set: 0 none, or a DecodeValueKind
    BYTE loose;      // the last line held text that does not begin with "<" after spaces
};

// Fills `path` (260 bytes) with the first location that opens; 0 and empty otherwise.
int locateDecodeSettings(char* path);
// Applies the file to the scan engine; 1 when it was opened and read to its end.
int applyDecodeSettings(const char* path);
// Applies an open file to the scan engine (connecting it first), to its end.
void applyDecodeSettingsFile(TextFile* file);
// Reads the file as applyDecodeSettings() does, for a check: every section
// and property is reported to `diagnostics`, and the engine is left alone.
void inspectDecodeSettings(TextFile* file, const SettingsDiagnostics& diagnostics);
// Reads one line; returns 0 at end of file.
int readDecodeLine(TextFile* file, int* kind, DecodeLineOutputs* out);
