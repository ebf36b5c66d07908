// Whole-file reads and writes for the command-line tools ("-" is stdin/stdout).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);
bool ReadTextFile(const std::string& path, std::string& text, std::string& error);
bool WriteTextFile(const std::string& path, const std::string& text, std::string& error);

// The command line of a one-input tool: "IN [-o OUT]" or -h/--help. Returns 0
// to go on, -1 after printing the help, or 2 for a bad line.
int ParseInOutArgs(int argc, char** argv, const char* usage, std::string& in, std::string& out);
