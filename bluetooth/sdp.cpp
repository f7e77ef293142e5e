// Service discovery data element reader. A descriptor byte holds the type in
// its upper five bits and the size index in the lower three: indexes 0 to 4
// give a value of 1, 2, 4, 8 or 16 bytes; 5, 6 and 7 give a value whose
// length follows in 1, 2 or 4 bytes (big-endian).
#include "bluetooth/sdp.h"

#include "bluetooth/btlink.h"

namespace {

const unsigned char kRfcommUuid128[16] = {0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

bool sizeAllowed(int type, int sizeIndex) {
    switch (type) {
        case SdpNil:
            return sizeIndex == 0;
        case SdpUnsigned:
        case SdpSigned:
            return sizeIndex <= 4;
        case SdpUuid:
            return sizeIndex == 1 || sizeIndex == 2 || sizeIndex == 4;
        case SdpBoolean:
            return sizeIndex == 0;
        case SdpText:
        case SdpSequence:
        case SdpAlternative:
        case SdpUrl:
            return sizeIndex >= 5;
        default:
            return false;
    }
}

bool isContainer(const SdpElement& e) {
    return e.type == SdpSequence || e.type == SdpAlternative;
}

int validateAt(const unsigned char* bytes, size_t length, int depth, size_t* used) {
    SdpElement e;
    if (!sdpReadElement(bytes, length, &e)) return 0;
    *used = e.totalLength;
    if (!isContainer(e)) return 1;
    if (depth > kSdpMaxDepth) return 0;
    size_t offset = 0;
    while (offset < e.valueLength) {
        size_t inner = 0;
        if (!validateAt(e.value + offset, e.valueLength - offset, depth + 1, &inner)) return 0;
        offset += inner;
    }
    return 1;
}

bool namesRfcomm(const SdpElement& e) {
    if (e.type != SdpUuid) return false;
    if (e.valueLength == 2) return e.value[0] == 0 && e.value[1] == 3;
    if (e.valueLength == 4) return e.value[0] == 0 && e.value[1] == 0 && e.value[2] == 0 && e.value[3] == 3;
    if (e.valueLength == 16) {
        for (int i = 0; i < 16; ++i)
            if (e.value[i] != kRfcommUuid128[i]) return false;
        return true;
    }
    return false;
}

// The channel a protocol descriptor names: the element after its first
// RFCOMM UUID, as its low byte for 8-, 16- and 32-bit integers, else 0.
int descriptorChannel(const SdpElement* descriptor) {
    int count = sdpChildCount(descriptor);
    for (int i = 0; i < count; ++i) {
        SdpElement e;
        if (!sdpChild(descriptor, i, &e)) return 0;
        if (!namesRfcomm(e)) continue;
        SdpElement next;
        if (!sdpChild(descriptor, i + 1, &next)) return 0;
        if ((next.type == SdpUnsigned || next.type == SdpSigned) && next.sizeIndex <= 2)
            return next.value[next.valueLength - 1];
        return 0;
    }
    return 0;
}

}  // namespace

int sdpReadElement(const unsigned char* bytes, size_t available, SdpElement* element) {
    if (bytes == nullptr || available < 1) return 0;
    int type = bytes[0] >> 3;
    int sizeIndex = bytes[0] & 7;
    if (!sizeAllowed(type, sizeIndex)) return 0;
    size_t header = 1;
    size_t length = 0;
    if (sizeIndex <= 4) {
        length = type == SdpNil ? 0 : (size_t{1} << sizeIndex);
    } else {
        size_t fieldBytes = sizeIndex == 5 ? 1 : sizeIndex == 6 ? 2 : 4;
        if (available - 1 < fieldBytes) return 0;
        for (size_t i = 0; i < fieldBytes; ++i) length = (length << 8) | bytes[1 + i];
        header += fieldBytes;
    }
    if (available - header < length) return 0;
    element->type = type;
    element->sizeIndex = sizeIndex;
    element->value = bytes + header;
    element->valueLength = length;
    element->totalLength = header + length;
    return 1;
}

int sdpValidate(const unsigned char* bytes, size_t length) {
    size_t used = 0;
    if (!validateAt(bytes, length, 1, &used)) return 0;
    return used == length ? 1 : 0;
}

int sdpChild(const SdpElement* container, int index, SdpElement* child) {
    if (!isContainer(*container) || index < 0) return 0;
    size_t offset = 0;
    for (int i = 0; offset < container->valueLength; ++i) {
        SdpElement e;
        if (!sdpReadElement(container->value + offset, container->valueLength - offset, &e)) return 0;
        if (i == index) {
            *child = e;
            return 1;
        }
        offset += e.totalLength;
    }
    return 0;
}

int sdpChildCount(const SdpElement* container) {
    if (!isContainer(*container)) return 0;
    int count = 0;
    size_t offset = 0;
    while (offset < container->valueLength) {
        SdpElement e;
        if (!sdpReadElement(container->value + offset, container->valueLength - offset, &e)) break;
        offset += e.totalLength;
        ++count;
    }
    return count;
}

int sdpRecordAttribute(const SdpElement* record, unsigned id, SdpElement* value) {
    if (record->type != SdpSequence) return 0;
    int count = sdpChildCount(record);
    for (int i = 0; i + 1 < count; i += 2) {
        SdpElement key;
        if (!sdpChild(record, i, &key)) return 0;
        // Attribute ids are 16-bit unsigned integers; anything else ends the record.
        if (key.type != SdpUnsigned || key.sizeIndex != 1) return 0;
        unsigned keyId = (unsigned{key.value[0]} << 8) | key.value[1];
        if (keyId == id) return sdpChild(record, i + 1, value);
    }
    return 0;
}

int findRfcommChannel(const unsigned char* response, size_t length) {
    if (!sdpValidate(response, length)) return -1;
    SdpElement records;
    if (!sdpReadElement(response, length, &records) || records.type != SdpSequence) return -1;
    int recordCount = sdpChildCount(&records);
    for (int r = 0; r < recordCount; ++r) {
        SdpElement record;
        if (!sdpChild(&records, r, &record)) break;
        if (record.type != SdpSequence) continue;
        SdpElement list;
        if (!sdpRecordAttribute(&record, 0x0004, &list) || !isContainer(list)) continue;
        int descriptors = sdpChildCount(&list);
        for (int d = 0; d < descriptors; ++d) {
            SdpElement descriptor;
            if (!sdpChild(&list, d, &descriptor)) break;
            if (!isContainer(descriptor)) continue;
            int channel = descriptorChannel(&descriptor);
            if (channel != 0) return channel;
        }
    }
    return -1;
}
