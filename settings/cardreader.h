// The magnetic card reader on "COM1:" and its 5-volt power output.
#pragma once

#include "platform/platform.h"

constexpr int kCardOutputFormatBytes = 256;

struct CardReaderSettings {
    char outputFormat[kCardOutputFormatBytes];  // MCROutputFormat, the sequence editor's command string
    WORD suffix[20];
    WORD prefix[20];
    int prefixWait;
    int suffixWait;
    WCHAR customSound[151];
    BYTE beep;
    int field;
};

extern CardReaderSettings cardReaderSettings;

int startCardReader(int deviceModel);
int stopCardReader();
int switch5VoltOutput(BOOL on);
// The card-reader settings parser (record index 0 only). Returns false when
// it does not know the key (its names are matched with their letter case).
bool parseCardReaderSetting(int recordIndex, const WCHAR* key, const WCHAR* value);
