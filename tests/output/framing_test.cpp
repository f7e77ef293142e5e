// The serial framings read back what they build: every framing, text and
// binary data, and data cut to the frame size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/framing.h"

namespace outputtest {
namespace {

struct Parsed {
    ParsedFrame frame;
    std::string data;  // what the frame carries, as the sender gave it
};

std::string build(SerialFraming framing, const std::string& data) {
    unsigned char frame[kFrameBytes];
    size_t length = buildFrame(framing, data.data(), static_cast<int>(data.size()), frame);
    return std::string(reinterpret_cast<char*>(frame), length);
}

Parsed parse(SerialFraming framing, const std::string& stream) {
    Parsed p{};
    const auto* bytes = reinterpret_cast<const unsigned char*>(stream.data());
    size_t used = parseFrame(framing, bytes, stream.size(), &p.frame);
    EXPECT_EQ(used, p.frame.size);
    EXPECT_LE(p.frame.dataAt + p.frame.dataBytes, used);
    p.data = stream.substr(p.frame.dataAt, p.frame.dataBytes);
    if (p.frame.kind == TaggedCommand) p.data = "~" + p.data;
    return p;
}

// The most data bytes a frame carries (a command's tilde counted).
size_t roomOf(SerialFraming framing, const std::string& data) {
    switch (framing) {
        case FramingTagged:
            return data.size() >= 2 && data.front() == '~' && data.back() == '.' ? 1024 - 7 - 48 + 1 : 1024 - 7 - 30;
        case FramingXr1:
            return 1024 - 17;
        case FramingHeader:
            return 1024 - 2;
        case FramingRaw:
            return 1024;
    }
    return 0;
}

std::string binary(size_t length) {
    // Every byte value, zero included, counting down so that 0x01 is never
    // followed by 0x02 (which starts a header frame).
    std::string s;
    for (size_t i = 0; i < length; ++i) s += static_cast<char>(255 - i % 256);
    return s;
}

std::vector<std::string> samples() {
    return {"12345",
            "~PING.",
            std::string("ab\0cd", 5),
            std::string(1, '\0'),
            binary(256),
            binary(300),
            std::string(986, 'y'),
            std::string(987, 'y'),
            std::string(1007, 'x'),
            binary(3000),
            "~" + std::string(2000, 'c') + "."};
}

TEST(FramingRoundTrip, EveryFramingReadsBackTheDataItCarriesAndItsLength) {
    for (const FramingInfo& info : kFramings) {
        for (const std::string& data : samples()) {
            SCOPED_TRACE(std::string(info.name) + " with " + std::to_string(data.size()) + " bytes");
            frameSequenceCounter.store(5);
            std::string frame = build(info.framing, data);
            ASSERT_LE(frame.size(), static_cast<size_t>(kFrameBytes));
            Parsed p = parse(info.framing, frame);
            EXPECT_EQ(frame.size(), p.frame.size);
            std::string carried = data.substr(0, std::min(data.size(), roomOf(info.framing, data)));
            EXPECT_EQ(carried, p.data);
            if (info.framing == FramingTagged) {
                EXPECT_EQ(static_cast<long>(frame.size() - 7), p.frame.lengthField);
                bool command = data.size() >= 2 && data.front() == '~' && data.back() == '.';
                EXPECT_EQ(command ? TaggedCommand : TaggedDecodeResult, p.frame.kind);
            } else if (info.framing == FramingXr1) {
                EXPECT_EQ(1, p.frame.crcGood);
                EXPECT_EQ(5, p.frame.sequence);
                EXPECT_EQ(static_cast<long>(carried.size() & 0xFF), p.frame.lengthField);
            } else {
                EXPECT_EQ(-1, p.frame.lengthField);
                EXPECT_EQ(-1, p.frame.crcGood);
            }
        }
    }
}

TEST(FramingRoundTrip, FramesOneAfterAnotherAreReadOneByOne) {
    for (const FramingInfo& info : kFramings) {
        if (info.framing == FramingRaw) continue;  // raw frames have no bounds
        SCOPED_TRACE(info.name);
        std::vector<std::string> sent = {"first", binary(40), "~CMD.", std::string("\0\0", 2)};
        std::string stream;
        for (const std::string& data : sent) stream += build(info.framing, data);
        size_t at = 0;
        for (const std::string& data : sent) {
            Parsed p = parse(info.framing, stream.substr(at));
            ASSERT_GT(p.frame.size, 0u);
            EXPECT_EQ(data, p.data);
            at += p.frame.size;
        }
        EXPECT_EQ(stream.size(), at);
    }
}

TEST(FramingRoundTrip, BytesOfAnotherFramingAreNoFrame) {
    ParsedFrame f;
    std::string header = build(FramingHeader, "abc");
    std::string tagged = build(FramingTagged, "abc");
    auto bytes = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); };
    EXPECT_EQ(0u, parseFrame(FramingTagged, bytes(header), header.size(), &f));
    EXPECT_EQ(0u, parseFrame(FramingXr1, bytes(tagged), tagged.size(), &f));
    EXPECT_EQ(0u, parseFrame(FramingHeader, bytes(tagged), tagged.size(), &f));
    // A tagged frame whose length runs past what arrived is not (yet) a frame.
    EXPECT_EQ(0u, parseFrame(FramingTagged, bytes(tagged), tagged.size() - 1, &f));
}

TEST(FramingRoundTrip, AnXr1RecordWithABadCrcRunsToTheNextRecord) {
    frameSequenceCounter.store(1);
    std::string first = build(FramingXr1, "one");
    std::string second = build(FramingXr1, "two");
    first[16] = static_cast<char>(first[16] ^ 0x40);  // damage the data
    std::string stream = first + second;
    Parsed p = parse(FramingXr1, stream);
    EXPECT_EQ(0, p.frame.crcGood);
    EXPECT_EQ(first.size(), p.frame.size);
    EXPECT_EQ(first.substr(15, 3), p.data);
    Parsed next = parse(FramingXr1, stream.substr(p.frame.size));
    EXPECT_EQ(1, next.frame.crcGood);
    EXPECT_EQ("two", next.data);
    EXPECT_EQ(2, next.frame.sequence);
}

TEST(FramingRoundTrip, SettingsValuesNameTheFramings) {
    EXPECT_EQ(FramingTagged, framingOf(1));
    EXPECT_EQ(FramingXr1, framingOf(2));
    EXPECT_EQ(FramingHeader, framingOf(3));
    EXPECT_EQ(FramingRaw, framingOf(4));
    EXPECT_EQ(FramingRaw, framingOf(-1));
    EXPECT_STREQ("xr1", framingName(FramingXr1));
    EXPECT_STREQ("raw", framingName(framingOf(9)));
}

}  // namespace
}  // namespace outputtest
