// Binary file access through iostreams, with the path in every error text.
#include "lib/file_util.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

namespace {

bool ReadStream(std::istream& in, std::string& data) {
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool ReadAll(const std::string& path, std::string& data, std::string& error) {
    bool ok;
    if (path == "-") {
        ok = ReadStream(std::cin, data);
    } else {
        std::ifstream in(path, std::ios::binary);
        ok = in.is_open() && ReadStream(in, data);
    }
    if (!ok) error = "can't read " + path;
    return ok;
}

bool WriteAll(const std::string& path, const char* data, size_t size, std::string& error) {
    bool ok;
    if (path == "-") {
        std::cout.write(data, static_cast<std::streamsize>(size));
        ok = static_cast<bool>(std::cout.flush());
    } else {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        ok = out.is_open() && out.write(data, static_cast<std::streamsize>(size)) && out.flush();
    }
    if (!ok) error = "can't write " + path;
    return ok;
}

}  // namespace

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    std::string data;
    if (!ReadAll(path, data, error)) return false;
    bytes.assign(data.begin(), data.end());
    return true;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    return WriteAll(path, reinterpret_cast<const char*>(bytes.data()), bytes.size(), error);
}

bool ReadTextFile(const std::string& path, std::string& text, std::string& error) {
    return ReadAll(path, text, error);
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string& error) {
    return WriteAll(path, text.data(), text.size(), error);
}

int ParseInOutArgs(int argc, char** argv, const std::string& help, std::string& in, std::string& out,
                   std::map<std::string, bool>* flags) {
    auto bad = [&help]() {
        std::fprintf(stderr, "%s(--help for more)\n", help.substr(0, help.find('\n') + 1).c_str());
        return 2;
    };
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-h" || args[i] == "--help") {
            std::fputs(help.c_str(), stdout);
            return -1;
        }
        if (flags && flags->count(args[i])) {
            (*flags)[args[i]] = true;
        } else if (args[i] == "-o" && i + 1 < args.size()) {
            out = args[++i];
        } else if (in.empty() && !args[i].empty() && (args[i] == "-" || args[i][0] != '-')) {
            in = args[i];
        } else {
            return bad();
        }
    }
    return in.empty() ? bad() : 0;
}
