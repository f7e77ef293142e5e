// The symbology settings editor launch and the process start it uses.
#pragma once

#include "platform/platform.h"

void settingsEditorLaunch();
int startProcess(LPCWSTR path, LPCWSTR arguments, BOOL wait);
