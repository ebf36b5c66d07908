// Lexical pieces shared by the assembler and the disassembler: words, string and
// number literals, integers and hex byte strings, each with a parser and a printer
// that round-trip exactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/chunk_model.h"

// Splits a source line into words at blanks, dropping a "; comment". A double
// quote opens a section (with backslash escapes) that runs to the closing quote
// and may hold blanks and semicolons; it stays part of the surrounding word.
bool SplitWords(const std::string& line, std::vector<std::string>& words, std::string& error);

// "text" stands for the text plus a terminating zero; raw"bytes" for exactly the
// bytes given (raw"" is the size-0 string). Escapes: \n \t \r \\ \" \ddd \xHH.
bool IsStringLiteral(const std::string& word);
bool ParseStringLiteral(const std::string& word, RawString& out, std::string& error);
std::string FormatStringLiteral(const RawString& value);
// Quoted text with escapes (no terminator handling).
std::string QuoteBytes(const std::string& bytes);

// Numbers: nan, inf, -inf, bits:HEX (exact IEEE-754 bits), or decimal/hex floats.
bool ParseNumber(const std::string& text, uint64_t& bits);
// Shortest spelling that reads back to the same bits.
std::string FormatNumber(uint64_t bits);

// Decimal or 0x hex with an optional sign.
bool ParseInteger(const std::string& text, int64_t& value);

// Pairs of hex digits, optionally 0x-prefixed; "" is no bytes.
bool ParseHexBytes(const std::string& text, std::string& bytes);
std::string FormatHexBytes(const std::string& bytes);

bool IsIdentifier(const std::string& text);
bool EqualsNoCase(const std::string& a, const std::string& b);
