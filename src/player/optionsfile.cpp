// The options file beside the applet: KEY = value lines read after the
// command line, so that its values replace those of the command line.
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "core/applet.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/file.h"
#include "core/linkeddata.h"
#include "player/options.h"

namespace {

constexpr char kOptionsExtension[] = ".ini";

bool IsAsciiLetter(char c) {
    c = static_cast<char>(kUpperCaseTable[static_cast<unsigned char>(c)]);
    return c >= 'A' && c <= 'Z';
}

bool IsKeyChar(char c) {
    return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_';
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// "true", "yes", "on" or a number other than 0.
int FlagValue(const std::string& value) {
    for (const char* word : {"true", "yes", "on"})
        if (StrCmpNoCase(value.c_str(), word) == 0) return 1;
    int err = 0;
    size_t used = 0;
    double n = StringToNumber(value.c_str(), &used, &err);
    return !err && used == value.size() && n != 0.0;
}

class IniParser {
public:
    IniParser(const char* text, size_t size) : p_(text), end_(text + size) {
        if (const void* nul = std::memchr(text, 0, size)) end_ = static_cast<const char*>(nul);
    }

    int Run(qbOptionValues& values, std::vector<qbUnknownOption>& unknown) {
        for (;;) {
            while (p_ < end_ && (*p_ == '\r' || *p_ == '\n' || IsBlank(*p_))) ++p_;
            if (p_ >= end_) return 0;
            if (*p_ == '#' || *p_ == '[') {
                while (p_ < end_ && *p_ != '\n') ++p_;
                continue;
            }
            std::string key, value;
            if (int err = Entry(key, value)) return err;
            Store(key, value, values, unknown);
        }
    }

private:
    int Entry(std::string& key, std::string& value) {
        if (!IsAsciiLetter(*p_)) return ERR_INISYNTAX;
        const char* start = p_;
        while (p_ < end_ && IsKeyChar(*p_)) ++p_;
        if (static_cast<size_t>(p_ - start) > kIniKeyMax) return ERR_INISYNTAX;
        key.assign(start, p_);
        while (p_ < end_ && IsBlank(*p_)) ++p_;
        if (p_ >= end_ || *p_ != '=') return ERR_INISYNTAX;
        ++p_;
        while (p_ < end_ && IsBlank(*p_)) ++p_;
        if (p_ < end_ && *p_ == '"') {
            const char* q = ++p_;
            while (q < end_ && *q != '"' && *q != '\r' && *q != '\n') ++q;
            if (q >= end_ || *q != '"') return ERR_INISYNTAX;
            value.assign(p_, q);
            p_ = q + 1;
            return 0;
        }
        const char* q = p_;
        while (q < end_ && *q != '\r' && *q != '\n') ++q;
        const char* last = q;
        while (last > p_ && IsBlank(last[-1])) --last;
        value.assign(p_, last);
        p_ = q;
        return 0;
    }

    static void Store(const std::string& key, std::string& value, qbOptionValues& values,
                      std::vector<qbUnknownOption>& unknown) {
        const qbOptionRow* row = FindOption(key.c_str(), key.size());
        if (!row) {
            unknown.push_back({key, value});
            return;
        }
        values.given[row->id] = true;
        if (row->takesValue) values.text[row->id] = std::move(value);
        else values.flag[row->id] = FlagValue(value);
    }

    const char* p_;
    const char* end_;
};

}  // namespace

std::string GetOptionsFileName(const qbCommandLine* cl) {
    const char* path = DataIsLinked ? cl->executablePath : cl->scriptPath;
    const char* filePart = GetPathFilePart(path);
    std::string name(path);
    const size_t fileStart = static_cast<size_t>(filePart - path);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot >= fileStart) name.resize(dot);
    return name + kOptionsExtension;
}

int ParseIniText(const char* text, size_t size, qbOptionValues& values, std::vector<qbUnknownOption>& unknown) {
    try {
        return IniParser(text, size).Run(values, unknown);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
}

int ReadIniOptions(qbCommandLine* cl, qbOptionValues& values) {
    std::string name = GetOptionsFileName(cl);
    qbFilePtr f(FileOpen(name.c_str(), kFileModeRead, nullptr));
    if (!f) return 0;
    int64_t size = GetFileSize(f.get());
    if (size < 0) return ERR_READ;
    std::string text;
    try {
        text.resize(static_cast<size_t>(size));
    } catch (const std::exception&) {
        return ERR_MEM;
    }
    if (FileRead(f.get(), text.data(), text.size()) != text.size()) return ERR_READ;
    return ParseIniText(text.data(), text.size(), values, cl->unknownOptions);
}
