// Escapes, word splitting, numbers, argument problems, host files and record
// printing of the console.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "console.h"

namespace console {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Length of a valid UTF-8 sequence at `i` (0 when none).
size_t utf8Length(const std::string& s, size_t i) {
    auto b = static_cast<unsigned char>(s[i]);
    size_t n = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

}  // namespace

bool unescape(const std::string& in, std::string& out, std::string& error) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 >= in.size()) {
            error = "a backslash ends the text (write \\\\ for a backslash)";
            return false;
        }
        char e = in[++i];
        switch (e) {
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '0':
                out += '\0';
                break;
            case 'e':
                out += '\x1b';
                break;
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case '\'':
                out += '\'';
                break;
            case 'x': {
                int hi = i + 1 < in.size() ? hexDigit(in[i + 1]) : -1;
                int lo = i + 2 < in.size() ? hexDigit(in[i + 2]) : -1;
                if (hi < 0 || lo < 0) {
                    error = "\\x needs two hex digits, as in \\x02";
                    return false;
                }
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            case 'u': {
                uint32_t code = 0;
                for (int k = 1; k <= 4; ++k) {
                    int d = i + k < in.size() ? hexDigit(in[i + k]) : -1;
                    if (d < 0) {
                        error = "\\u needs four hex digits, as in \\u00e9";
                        return false;
                    }
                    code = code * 16 + static_cast<uint32_t>(d);
                }
                appendUtf8(out, code);
                i += 4;
                break;
            }
            default:
                error = std::string("unknown escape \\") + e + " (known: \\r \\n \\t \\0 \\e \\\\ \\\" \\xHH \\uHHHH)";
                return false;
        }
    }
    return true;
}

std::string escape(const std::string& bytes, bool keepUtf8) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        switch (b) {
            case '\r':
                out += "\\r";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\t':
                out += "\\t";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            default:
                break;
        }
        if (b >= 0x20 && b < 0x7F) {
            out += static_cast<char>(b);
            continue;
        }
        size_t n = keepUtf8 && b >= 0x80 ? utf8Length(bytes, i) : 0;
        if (n > 0) {
            out.append(bytes, i, n);
            i += n - 1;
            continue;
        }
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\x%02X", b);
        out += buffer;
    }
    return out;
}

std::string hex(const std::string& bytes) {
    std::string out;
    char buffer[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned char>(bytes[i]));
        if (i > 0) out += ' ';
        out += buffer;
    }
    return out;
}

std::string jsonString(const std::string& bytes) {
    std::string out = "\"";
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (b >= 0x20 && b < 0x7F) {
            out += static_cast<char>(b);
        } else if (size_t n = b >= 0x80 ? utf8Length(bytes, i) : 0; n > 0) {
            out.append(bytes, i, n);
            i += n - 1;
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", b);
            out += buffer;
        }
    }
    return out + "\"";
}

std::string utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::u16string utf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        size_t n = utf8Length(text, i);
        auto b = static_cast<unsigned char>(text[i]);
        uint32_t c = b;
        if (n == 2) c = ((b & 0x1Fu) << 6) | (text[i + 1] & 0x3F);
        if (n == 3) c = ((b & 0x0Fu) << 12) | ((text[i + 1] & 0x3Fu) << 6) | (text[i + 2] & 0x3F);
        if (n == 4)
            c = ((b & 0x07u) << 18) | ((text[i + 1] & 0x3Fu) << 12) | ((text[i + 2] & 0x3Fu) << 6) |
                (text[i + 3] & 0x3F);
        i += n == 0 ? 1 : n;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

bool splitWords(const std::string& line, Args& words, std::string& error) {
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string raw;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            char c = line[i];
            if (c == '"' || c == '\'') {
                size_t j = i + 1;
                while (j < line.size() && line[j] != c) {
                    if (line[j] == '\\' && j + 1 < line.size()) raw += line[j++];
                    raw += line[j++];
                }
                if (j >= line.size()) {
                    error = std::string("unterminated ") + (c == '"' ? "double" : "single") + " quote";
                    return false;
                }
                i = j + 1;
            } else {
                if (c == '\\' && i + 1 < line.size()) raw += line[i++];
                raw += line[i++];
            }
        }
        std::string word;
        if (!unescape(raw, word, error)) return false;
        words.push_back(word);
    }
    return true;
}

bool parseInt(const std::string& text, long long& value) {
    if (text.empty()) return false;
    size_t used = 0;
    try {
        value = std::stoll(text, &used, 0);
    } catch (...) {
        return false;
    }
    return used == text.size();
}

size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

bool parseNumber(const std::string& text, long long low, long long high, long long& value) {
    return parseInt(text, value) && value >= low && value <= high;
}

bool parseDuration(const std::string& text, long long& ms) {
    // Digits, an optional fraction, an optional unit.
    size_t at = 0;
    long long whole = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && at < 12)
        whole = whole * 10 + (text[at++] - '0');
    if (at == 0) return false;
    long long fraction = 0, scale = 1;
    if (at < text.size() && text[at] == '.') {
        ++at;
        size_t digits = at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && at - digits < 6) {
            fraction = fraction * 10 + (text[at++] - '0');
            scale *= 10;
        }
        if (at == digits) return false;
    }
    std::string unit = text.substr(at);
    long long factor = unit == "" || unit == "ms" ? 1 : unit == "s" ? 1000 : unit == "m" ? 60000 : 0;
    if (factor == 0 || (factor == 1 && scale != 1)) return false;
    ms = whole * factor + fraction * factor / scale;
    return true;
}

std::string durationText(long long ms) {
    if (ms != 0 && ms % 60000 == 0) return std::to_string(ms / 60000) + " min";
    if (ms != 0 && ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

bool durationOption(const Args& args, size_t& i, const DurationRule& rule, long long& ms, std::ostream& err) {
    const std::string& option = args[i];
    std::string range = durationText(rule.least) + ".." + durationText(rule.most);
    const std::string value = i + 1 < args.size() ? args[i + 1] : std::string();
    bool bare = !value.empty() && value.find_first_not_of("0123456789.") == std::string::npos;
    // Scripts written when this option took seconds (1.5 among them) keep their meaning.
    bool oldSeconds = bare && rule.oldSecondsUpTo > 0 && parseDuration(value + "s", ms) &&
                      ms <= rule.oldSecondsUpTo * 1000;
    if (i + 1 >= args.size() || (!oldSeconds && !parseDuration(value, ms))) {
        usage(args[0], err,
              option + " needs a duration " + range + ": milliseconds, or a number with its unit (500ms, 5s, 2m)");
        return false;
    }
    ++i;
    if (oldSeconds) {
        err << "keyvane-terminal " << args[0] << ": " << option << " " << value << " is read as " << value
            << " s, as before; write " << value << "s (a bare number above " << rule.oldSecondsUpTo
            << " is milliseconds)\n";
    }
    if (ms < rule.least || ms > rule.most) {
        usage(args[0], err, option + " needs a duration " + range + " (" + value + " is " + durationText(ms) + ")");
        return false;
    }
    return true;
}

int usage(const std::string& command, std::ostream& err, const std::string& problem) {
    err << "keyvane-terminal " << command << ": " << problem;
    // A problem that names its own remedy needs no other hint.
    if (problem.empty() || problem.back() != ')') err << " (keyvane-terminal " << command << " --help shows the usage)";
    err << "\n";
    return kUsage;
}

int failure(const std::string& command, std::ostream& err, const std::string& problem) {
    err << "keyvane-terminal " << command << ": " << problem << "\n";
    return kFailed;
}

bool makeTemporaryFolder(const char* kind, std::string& path) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (tmp != nullptr && tmp[0] == '/' ? std::string(tmp) : std::string("/tmp")) + "/keyvane-" +
                          kind + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (mkdtemp(name.data()) == nullptr) return false;
    path = name.data();
    return true;
}

std::string handleText(uint32_t h) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", h);
    return buffer;
}

bool readHostFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    bytes = s.str();
    return true;
}

namespace {

std::string jsonValue(const Field& field) {
    switch (field.kind) {
        case Field::Number:
            return field.value;
        case Field::Flag:
            return field.value == "0" ? "false" : "true";
        default:
            return jsonString(field.value);
    }
}

void printJsonObject(const Record& record, std::ostream& out) {
    out << "{";
    for (size_t f = 0; f < record.size(); ++f)
        out << (f ? ", " : "") << jsonString(record[f].key) << ": " << jsonValue(record[f]);
    out << "}";
}

void printPlainLine(const Record& record, std::ostream& out) {
    for (size_t f = 0; f < record.size(); ++f) {
        out << (f ? "\t" : "");
        if (record[f].kind != Field::Word) out << record[f].key << "=";
        out << escape(record[f].value);
    }
    out << "\n";
}

}  // namespace

void printRecords(const Options& options, const std::vector<Record>& records, std::ostream& out) {
    if (!options.json) {
        for (const Record& record : records) printPlainLine(record, out);
        return;
    }
    out << "[";
    for (size_t r = 0; r < records.size(); ++r) {
        out << (r ? ",\n " : "");
        printJsonObject(records[r], out);
    }
    out << "]\n";
}

void printRecord(const Options& options, const Record& record, std::ostream& out) {
    if (!options.json) {
        printPlainLine(record, out);
        return;
    }
    printJsonObject(record, out);
    out << "\n";
}

void printLines(const Options& options, const std::string& text, bool tidy, std::ostream& out) {
    std::vector<std::string> lines;
    std::string line;
    auto finish = [&] {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (tidy) {
            // Carriage returns inside a line, blank lines and a line that
            // repeats the one before are noise to a reader.
            std::string kept;
            for (char c : line)
                if (c != '\r') kept += c;
            line = kept;
            size_t b = line.find_first_not_of(" \t");
            if (b == std::string::npos) {
                line.clear();
                return;
            }
            line = line.substr(b, line.find_last_not_of(" \t") - b + 1);
        }
        lines.push_back(line);
        line.clear();
    };
    for (char c : text) {
        if (c == '\n')
            finish();
        else
            line += c;
    }
    if (!line.empty()) finish();
    if (tidy) {
        std::vector<std::string> merged;
        size_t repeats = 1;
        for (size_t i = 0; i <= lines.size(); ++i) {
            if (i > 0 && i < lines.size() && lines[i] == lines[i - 1]) {
                ++repeats;
                continue;
            }
            if (i > 0) merged.push_back(lines[i - 1] + (repeats > 1 ? " (" + std::to_string(repeats) + " times)" : ""));
            repeats = 1;
        }
        lines = merged;
    }
    if (options.json) {
        out << "[";
        for (size_t i = 0; i < lines.size(); ++i) out << (i ? ",\n " : "") << jsonString(lines[i]);
        out << "]\n";
    } else {
        for (const auto& l : lines) out << escape(l) << "\n";
    }
}

}  // namespace console
