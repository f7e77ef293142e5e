// Remote Bluetooth devices around the terminal: put one in range with its
// service-attribute response (or one that offers no serial port service, or
// one whose service discovery server does not answer), take it away, and
// read what reached it over the wedge's virtual COM port, split into frames
// as a serial peer's bytes are.
#include <ostream>
#include <string>

#include "bluetooth/btlink.h"
#include "console.h"
#include "platform/host/terminal.h"

namespace console {

namespace {

// A serial port service record whose protocol descriptor list is L2CAP then
// RFCOMM on `channel`, alone in a service-attribute response.
std::string serialPortResponse(unsigned channel) {
    const std::string l2cap("\x35\x03\x19\x01\x00", 5);
    const std::string rfcomm = std::string("\x35\x05\x19\x00\x03\x08", 6) + static_cast<char>(channel & 0xFF);
    const std::string list = std::string("\x35\x0C", 2) + l2cap + rfcomm;
    const std::string attribute = std::string("\x09\x00\x04", 3) + list;
    const std::string record = std::string("\x35", 1) + static_cast<char>(attribute.size()) + attribute;
    return std::string("\x35", 1) + static_cast<char>(record.size()) + record;
}

std::string addressText(uint64_t address) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int byte = 5; byte >= 0; --byte) {
        unsigned value = static_cast<unsigned>(address >> (byte * 8)) & 0xFF;
        text += digits[value >> 4];
        text += digits[value & 0xF];
        if (byte > 0) text += ':';
    }
    return text;
}

// The bytes that hex digits spell (blanks, colons and commas between them
// are allowed); false with a message otherwise.
bool hexBytes(const std::string& text, std::string& bytes, std::string& problem) {
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':' && c != ',' && c != '\n' && c != '\r' && c != '\t') digits += c;
    if (digits.size() % 2 != 0) {
        problem = "an odd number of hex digits";
        return false;
    }
    auto value = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    bytes.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        int high = value(digits[i]), low = value(digits[i + 1]);
        if (high < 0 || low < 0) {
            problem = "not a hex byte: " + digits.substr(i, 2);
            return false;
        }
        bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

// The address a person writes: twelve hex digits, with or without colons or
// dashes between the pairs.
bool parseAddress(const std::string& text, uint64_t& address) {
    address = 0;
    int count = 0;
    for (char c : text) {
        if (c == ':' || c == '-') continue;
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (v < 0 || ++count > 12) return false;
        address = address << 4 | static_cast<uint64_t>(v);
    }
    return count == 12;
}

bool addressArgument(const Args& args, uint64_t& address, std::ostream& err, int& rc) {
    if (!parseAddress(args[1], address)) {
        rc = usage(args[0], err,
                   "not a remote device's address: " + args[1] + " (12 hex digits, e.g. 00:A1:B2:C3:D4:E5)");
        return false;
    }
    return true;
}

bool inRange(uint64_t address) {
    for (const auto& d : terminal::remoteDevices())
        if (d.address == address) return true;
    return false;
}

}  // namespace

int btDeviceCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    uint64_t address = 0;
    int rc = kOk;
    if (!addressArgument(args, address, err, rc)) return rc;
    std::string name, response = serialPortResponse(1);
    bool answers = true;
    int answerOptions = 0;
    std::vector<OptionGiven> given;
    Args rest;
    if (rc = readOptions(args[0], args, 2, kNoWords, given, rest, err); rc != kOk) return rc;
    for (const OptionGiven& o : given) {
        std::string problem;
        if (o.is("--name")) {
            name = o.text;
            if (name.size() > 63) return usage(args[0], err, "the name has more than 63 bytes");
            continue;
        }
        ++answerOptions;
        if (o.is("--channel")) {
            response = serialPortResponse(static_cast<unsigned>(o.number));
        } else if (o.is("--sdp")) {
            if (!hexBytes(o.text, response, problem)) return usage(args[0], err, "--sdp: " + problem);
        } else if (o.is("--sdp-file")) {
            std::string text;
            if (!readHostFile(o.text, text)) return usage(args[0], err, "cannot read " + o.text);
            // A file of hex digits, or the response's own bytes.
            if (!hexBytes(text, response, problem)) response = text;
        } else if (o.is("--no-service")) {
            response = std::string("\x35\x00", 2);
        } else {
            answers = false;  // --silent
        }
    }
    if (answerOptions > 1) return usage(args[0], err, "one of --channel, --sdp, --sdp-file, --no-service and --silent");
    if (response.size() > 8192) return usage(args[0], err, "the response has more than 8192 bytes");
    bool placed =
        answers ? terminal::putRemoteDevice(address, response, name) : terminal::putSilentRemoteDevice(address, name);
    if (!placed) {
        err << "16 remote devices are in range already (take one away with bt-away)\n";
        return kFailed;
    }
    printRecord(options, {Field::word("device", addressText(address)), Field::word("state", "in range")}, out);
    return kOk;
}

int btAwayCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    uint64_t address = 0;
    int rc = kOk;
    if (!addressArgument(args, address, err, rc)) return rc;
    if (!inRange(address)) {
        err << "no remote device " << addressText(address) << " is in range (bt lists those that are)\n";
        return kFailed;
    }
    terminal::takeRemoteDeviceAway(address);
    printRecord(options, {Field::word("device", addressText(address)), Field::word("state", "out of range")}, out);
    return kOk;
}

int btListCommand(const Options& options, const Args&, std::ostream& out, std::ostream&) {
    std::vector<Record> records;
    for (const auto& d : terminal::remoteDevices()) {
        Record r{{"device", addressText(d.address)}, {"name", d.name}};
        if (!d.answers) {
            r.emplace_back("sdp", "silent");
        } else {
            // The channel the wedge's own reader finds in the response.
            int channel = findRfcommChannel(reinterpret_cast<const unsigned char*>(d.serviceResponse.data()),
                                            d.serviceResponse.size());
            r.emplace_back("sdp", std::to_string(d.serviceResponse.size()) + " bytes");
            if (channel < 0)
                r.emplace_back("channel", "none");
            else
                r.emplace_back("channel", channel);
        }
        r.emplace_back("received", terminal::remoteReceived(d.address).size());
        records.push_back(r);
    }
    for (const auto& p : terminal::comDevices()) {
        if (!p.bluetooth) continue;
        records.push_back({{"port", "COM" + std::to_string(p.index)},
                           {"device", p.local ? "local" : addressText(p.address)},
                           {"channel", p.channel}});
    }
    printRecords(options, records, out);
    return kOk;
}

int btPeerCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    uint64_t address = 0;
    int rc = kOk;
    if (!addressArgument(args, address, err, rc)) return rc;
    return printFrames(options, terminal::remoteReceived(address), args, 2, out, err);
}

int btSendCommand(const Options&, const Args& args, std::ostream&, std::ostream& err) {
    uint64_t address = 0;
    int rc = kOk;
    if (!addressArgument(args, address, err, rc)) return rc;
    if (!terminal::sendFromRemote(address, args[2])) {
        err << "cannot queue the bytes of " << addressText(address) << "\n";
        return kFailed;
    }
    return kOk;
}

}  // namespace console
