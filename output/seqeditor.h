// The sequence editor: a small command language that cuts card data into
// pieces and delivers them.
#pragma once

#include "platform/platform.h"

constexpr int kPieceChars = 300;

void runOutputFormat(const WCHAR* text, const char* commands);
int parseCount(const char* position);
