#include "output/serial.h"

char serialData[kSerialDataBytes];
uint32_t frameSequenceCounter = 0;

void sendToSerial(int) {}
size_t buildFrame(int, const char*, int, unsigned char*) { return 0; }
uint16_t crc16Xmodem(const unsigned char*, size_t) { return 0; }
