// The resource script reader of keyvane-rc: a script's tokens, definitions
// and statements become the entries and data arrays of a resource table.
#pragma once

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace rcscript {

struct Token {
    enum Type { Word, Number, String, Comma, End } type;
    std::string text;
    long number = 0;
    int line = 0;
};

inline std::string readFile(const std::string& path, bool* ok) {
    std::ifstream in(path, std::ios::binary);
    *ok = static_cast<bool>(in);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Parser {
public:
    Parser(std::string source, std::string scriptFolder, std::ostream* messageStream = &std::cerr)
        : folder(std::move(scriptFolder)), messages(messageStream), source_(std::move(source)) {
        tokenize();
    }

    std::string folder;
    std::ostream* messages;  // warnings and tokenizer errors
    bool failed = false;
    std::string error;
    std::vector<std::string> out;     // definitions of the table entries
    std::vector<std::string> arrays;  // data arrays before them

    void run() {
        while (!failed && peek().type != Token::End) statement();
    }

private:
    std::string source_;
    std::vector<Token> tokens_;
    size_t pos_ = 0;
    std::map<std::string, long> defines_;
    int serial_ = 0;
    int depth_ = 0;
    static constexpr int kIncludeDepth = 8;

    void fail(const std::string& message) {
        if (failed) return;
        failed = true;
        error = "line " + std::to_string(peek().line) + ": " + message;
    }

    void tokenize() {
        int line = 1;
        size_t i = 0;
        bool lineStart = true;
        while (i < source_.size()) {
            char c = source_[i];
            if (c == '\n') {
                ++line;
                ++i;
                lineStart = true;
                continue;
            }
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++i;
                continue;
            }
            if (c == '/' && i + 1 < source_.size() && source_[i + 1] == '/') {
                while (i < source_.size() && source_[i] != '\n') ++i;
                continue;
            }
            if (c == '#' && lineStart) {
                size_t end = source_.find('\n', i);
                directive(source_.substr(i, end == std::string::npos ? std::string::npos : end - i), line);
                i = end == std::string::npos ? source_.size() : end;
                continue;
            }
            lineStart = false;
            Token t{Token::Word, "", 0, line};
            if (c == ',') {
                t.type = Token::Comma;
                ++i;
            } else if (c == '"') {
                t.type = Token::String;
                ++i;
                while (i < source_.size() && source_[i] != '"') {
                    if (source_[i] == '\\' && i + 1 < source_.size()) {
                        char e = source_[++i];
                        t.text += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
                    } else if (source_[i] == '\n') {
                        break;
                    } else {
                        t.text += source_[i];
                    }
                    ++i;
                }
                ++i;
            } else if (std::isdigit(static_cast<unsigned char>(c))) {
                t.type = Token::Number;
                const char* begin = source_.c_str() + i;
                char* end = nullptr;
                errno = 0;
                t.number = std::strtol(begin, &end, 0);
                i += static_cast<size_t>(end - begin);
                if (errno == ERANGE) {
                    *messages << "rc: line " << line << ": number out of range\n";
                    failed = true;
                }
            } else {
                while (i < source_.size() &&
                       (std::isalnum(static_cast<unsigned char>(source_[i])) || source_[i] == '_'))
                    t.text += source_[i++];
                if (t.text.empty()) {
                    *messages << "rc: line " << line << ": unexpected character '" << c << "'\n";
                    failed = true;
                    ++i;
                }
            }
            tokens_.push_back(t);
        }
        tokens_.push_back(Token{Token::End, "", 0, line});
    }

    // A preprocessor line: #define NAME NUMBER is kept, #include "FILE" (a
    // header of #define lines, relative to the script's folder) is read for
    // its definitions; include guards and other directives are passed over.
    void directive(const std::string& text, int line) {
        std::istringstream in(text);
        std::string word, name, value;
        in >> word >> name >> value;
        if (word == "#define" && !name.empty()) {
            if (value.empty()) return;  // a guard
            char* rest = nullptr;
            long number = std::strtol(value.c_str(), &rest, 0);
            if (rest == value.c_str()) {
                *messages << "rc: line " << line << ": " << name << " is not defined as a number\n";
                failed = true;
                return;
            }
            defines_[name] = number;
        } else if (word == "#include") {
            if (name.size() < 2 || name.front() != '"' || name.back() != '"' || ++depth_ > kIncludeDepth) {
                *messages << "rc: line " << line << ": cannot include " << name << "\n";
                failed = true;
                return;
            }
            bool ok = false;
            std::string header = readFile(folder + "/" + name.substr(1, name.size() - 2), &ok);
            if (!ok) {
                *messages << "rc: line " << line << ": cannot read " << name << "\n";
                failed = true;
                return;
            }
            std::istringstream lines(header);
            std::string l;
            for (int n = 1; std::getline(lines, l); ++n) {
                size_t first = l.find_first_not_of(" \t");
                if (first != std::string::npos && l[first] == '#') directive(l.substr(first), n);
            }
            --depth_;
        }
    }

    const Token& peek() const { return tokens_[pos_]; }
    Token next() {
        Token t = tokens_[pos_];
        if (t.type != Token::End) ++pos_;
        return t;
    }
    bool isWord(const char* word) const { return peek().type == Token::Word && peek().text == word; }
    void expectWord(const char* word) {
        if (!isWord(word)) fail(std::string("expected ") + word);
        next();
    }
    long number() {
        Token t = next();
        if (t.type == Token::Number) return t.number;
        if (t.type == Token::Word && defines_.count(t.text)) return defines_[t.text];
        fail("expected a number, got '" + t.text + "'");
        return 0;
    }
    void skipOptions() {
        // Memory options (DISCARDABLE, PRELOAD, ...) before BEGIN or a file name.
        while (peek().type == Token::Word && peek().text != "BEGIN") next();
    }

    static std::string wide(const std::string& text) {
        std::string s = "u\"";
        for (unsigned char c : text) {
            if (c == '"' || c == '\\') {
                s += '\\';
                s += static_cast<char>(c);
            } else if (c >= 0x20 && c < 0x7F) {
                s += static_cast<char>(c);
            } else {
                char buffer[16];
                std::snprintf(buffer, sizeof(buffer), "\\x%02x\"u\"", c);
                s += buffer;
            }
        }
        return s + "\"";
    }

    std::string dataArray(const std::string& file, bool* ok) {
        std::string bytes = readFile(folder + "/" + file, ok);
        if (!*ok) return "";
        std::string name = "data" + std::to_string(serial_++);
        std::string a = "const unsigned char " + name + "[] = {";
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (i % 24 == 0) a += "\n    ";
            a += std::to_string(static_cast<unsigned char>(bytes[i])) + ",";
        }
        if (bytes.empty()) a += "0";
        a += "\n};\n";
        arrays.push_back(a);
        return "{" + name + ", " + std::to_string(bytes.size()) + "}";
    }

    void statement() {
        if (isWord("STRINGTABLE")) {
            next();
            skipOptions();
            expectWord("BEGIN");
            while (!failed && !isWord("END") && peek().type != Token::End) {
                long id = number();
                if (peek().type == Token::Comma) next();
                Token text = next();
                if (text.type != Token::String) fail("expected a string");
                out.push_back("{KindString, " + std::to_string(id) + ", \"STRING\", " + wide(text.text) +
                              ", nullptr, 0, nullptr, 0, nullptr, 0}");
            }
            expectWord("END");
            return;
        }
        long id = number();
        Token type = next();
        if (type.type != Token::Word) return fail("expected a resource type");
        if (type.text == "MENU") {
            skipOptions();
            std::string items;
            size_t count = 0;
            menuBlock(0, &items, &count);
            std::string name = "menu" + std::to_string(serial_++);
            arrays.push_back("const MenuItem " + name + "[] = {" + items + "\n};\n");
            out.push_back("{KindMenu, " + std::to_string(id) + ", \"MENU\", nullptr, nullptr, 0, " + name + ", " +
                          std::to_string(count) + ", nullptr, 0}");
        } else if (type.text == "ACCELERATORS") {
            skipOptions();
            expectWord("BEGIN");
            std::string entries;
            size_t count = 0;
            while (!failed && !isWord("END") && peek().type != Token::End) {
                Token key = next();
                long keyCode = 0;
                if (key.type == Token::String && !key.text.empty())
                    keyCode = static_cast<unsigned char>(key.text[0]);
                else if (key.type == Token::Number)
                    keyCode = key.number;
                else
                    fail("expected an accelerator key");
                if (peek().type == Token::Comma) next();
                long command = number();
                unsigned flags = 0;
                while (peek().type == Token::Comma) {
                    next();
                    Token option = next();
                    if (option.text == "VIRTKEY")
                        flags |= 1;
                    else if (option.text == "CONTROL")
                        flags |= 2;
                    else if (option.text == "SHIFT")
                        flags |= 4;
                    else if (option.text == "ALT")
                        flags |= 8;
                }
                if (key.type == Token::String && key.text.size() == 2 && key.text[0] == '^') {
                    keyCode = std::toupper(static_cast<unsigned char>(key.text[1]));
                    flags |= 1 | 2;
                }
                entries += "\n    {" + std::to_string(keyCode) + ", " + std::to_string(command) + ", " +
                           std::to_string(flags) + "},";
                ++count;
            }
            expectWord("END");
            std::string name = "accel" + std::to_string(serial_++);
            arrays.push_back("const Accelerator " + name + "[] = {" + entries + "\n};\n");
            out.push_back("{KindAccelerators, " + std::to_string(id) +
                          ", \"ACCELERATORS\", nullptr, nullptr, 0, nullptr, 0, " + name + ", " +
                          std::to_string(count) + "}");
        } else {
            skipOptions();
            Token file = next();
            if (file.type != Token::String) return fail("expected a file name");
            bool ok = false;
            std::string data = dataArray(file.text, &ok);
            if (!ok) {
                if (type.text == "ICON") return fail("cannot read " + file.text);
                *messages << "rc: warning: " << file.text << " is missing; resource " << id << " left out\n";
                return;
            }
            std::string kind = type.text == "ICON" ? "KindIcon" : "KindBinary";
            out.push_back("{" + kind + ", " + std::to_string(id) + ", \"" + type.text + "\", nullptr, " +
                          data.substr(1, data.size() - 2) + ", nullptr, 0, nullptr, 0}");
        }
    }

    void menuBlock(int depth, std::string* items, size_t* count) {
        expectWord("BEGIN");
        while (!failed && !isWord("END") && peek().type != Token::End) {
            Token word = next();
            if (word.text == "POPUP") {
                Token text = next();
                *items += "\n    {" + std::to_string(depth) + ", true, 0, " + wide(text.text) + "},";
                ++*count;
                skipOptions();
                menuBlock(depth + 1, items, count);
            } else if (word.text == "MENUITEM") {
                if (isWord("SEPARATOR")) {
                    next();
                    *items += "\n    {" + std::to_string(depth) + ", false, 0, nullptr},";
                } else {
                    Token text = next();
                    if (peek().type == Token::Comma) next();
                    long command = number();
                    while (peek().type == Token::Comma) {
                        next();
                        next();
                    }
                    *items += "\n    {" + std::to_string(depth) + ", false, " + std::to_string(command) + ", " +
                              wide(text.text) + "},";
                }
                ++*count;
            } else {
                fail("unexpected '" + word.text + "' in a menu");
            }
        }
        expectWord("END");
    }
};

}  // namespace rcscript
