#include "settings/cardreader.h"

CardReaderSettings cardReaderSettings = {};

int startCardReader(int) { return 0; }
int stopCardReader() { return 1; }
int switch5VoltOutput(BOOL) { return 0; }
void parseCardReaderSetting(int, const WCHAR*, const WCHAR*) {}
