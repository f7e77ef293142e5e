// Scanned-data handling: result slots and scan-sync groups.
#include "output/scandata.h"

#include "scan/scanloop.h"

int onBarcodeScanned(DecodeResult* result) {
    return 1;
}
bool isAlreadyCollected(const WCHAR* text) {
    return false;
}
bool startsWithText(const char* text, int textLength, const WCHAR* startText) {
    return false;
}
bool startsWithText(const WCHAR* text, const WCHAR* startText) {
    return false;
}
bool isGroupComplete(int group) {
    return false;
}
