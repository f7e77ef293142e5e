// Service discovery data elements: the reader that walks a remote device's
// service-attribute response (a sequence of records, each a sequence of
// attribute id / value pairs) without reading past its bytes.
#pragma once

#include <cstddef>
#include <cstdint>

enum SdpType {
    SdpNil = 0,
    SdpUnsigned = 1,
    SdpSigned = 2,
    SdpUuid = 3,
    SdpText = 4,
    SdpBoolean = 5,
    SdpSequence = 6,
    SdpAlternative = 7,
    SdpUrl = 8
};

// Containers nested deeper than this are refused as malformed.
constexpr int kSdpMaxDepth = 16;

// One data element: its type, the size index of its descriptor byte, and the
// bytes of its value (for containers, the elements inside).
struct SdpElement {
    int type;
    int sizeIndex;
    const unsigned char* value;
    size_t valueLength;
    size_t totalLength;  // descriptor, length field and value
};

// Reads the element header at bytes[0..available). 1 when it is well formed
// and its value lies inside the bytes; 0 otherwise.
int sdpReadElement(const unsigned char* bytes, size_t available, SdpElement* element);
// 1 when the bytes are exactly one well-formed element whose containers, at
// every depth up to kSdpMaxDepth, hold only well-formed elements.
int sdpValidate(const unsigned char* bytes, size_t length);
// The index-th element inside a container (0 when there is none).
int sdpChild(const SdpElement* container, int index, SdpElement* child);
// Number of elements inside a container.
int sdpChildCount(const SdpElement* container);
// The value of attribute `id` in a record; 0 when the record lacks it.
int sdpRecordAttribute(const SdpElement* record, unsigned id, SdpElement* value);
