// Reading applets back for the tools: the compressed form is inflated, and
// the sections in front of the script body are walked by their layouts (they
// carry no lengths of their own) to reach it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The plain applet inside a compressed one ("QBZ" pack stream); the bytes
// after the stream (its icon block) are left out.
bool InflateApplet(const std::vector<uint8_t>& packed, std::vector<uint8_t>& plain, std::string& error);

// The script body of a plain or compressed applet. Errors name the offset
// (in the plain applet) where reading stopped.
bool ReadAppletBody(const std::vector<uint8_t>& applet, std::vector<uint8_t>& body, std::string& error);
