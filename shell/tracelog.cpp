#include "shell/tracelog.h"

#include <cstdarg>

namespace {
const WCHAR kTracePath[] = TEXT("\\DebugADV\\Keyvane.txt");
constexpr size_t kTraceLineBytes = 4096;
}  // namespace

void traceAppend(const WCHAR* text) {
    if (text == nullptr) {
        textFileAppend(kTracePath, "", 0);
        return;
    }
    char line[kTraceLineBytes + 2];
    size_t n = textNarrow(line, kTraceLineBytes, text);
    line[n++] = '\n';
    textFileAppend(kTracePath, line, n);
}

void traceAppendFormat(const char* format, ...) {
    char line[kTraceLineBytes];
    va_list args;
    va_start(args, format);
    size_t n = textFormatVA(line, sizeof line, format, args);
    va_end(args);
    textFileAppend(kTracePath, line, n);
}
