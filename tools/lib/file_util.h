// Whole-file reads and writes for the command-line tools ("-" is stdin/stdout).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);
bool ReadTextFile(const std::string& path, std::string& text, std::string& error);
bool WriteTextFile(const std::string& path, const std::string& text, std::string& error);

// The command line of a one-input tool: "IN [-o OUT]", the flags named in
// flags (set to true when given), or -h/--help. Returns 0 to go on, -1 after
// printing the help, or 2 for a bad line (after printing the help's first
// line, the usage).
int ParseInOutArgs(int argc, char** argv, const std::string& help, std::string& in, std::string& out,
                   std::map<std::string, bool>* flags = nullptr);
