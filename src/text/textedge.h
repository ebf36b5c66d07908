// The edge of styled text and of text-layer borders: a coverage plane grown
// by e pixels on every side, either stamped (any covered pixel within the
// (2e + 1)-square sets the pixel) or anti-aliased (the square's coverage
// summed, divided by 2e + 1 and capped at 255).
#pragma once

#include <cstdint>
#include <vector>

// cov: width x height bytes, row after row. out: (width + 2e) x (height + 2e)
// bytes; pixel (x, y) of the input lies at (x + e, y + e) of the output's
// centre square. Running sums over rows, then over columns, in 32 bits.
void EdgeCoverageAntialiased(const uint8_t* cov, int32_t width, int32_t height, int32_t e,
                             std::vector<uint8_t>* out);
// Every covered pixel stamps 255 over its square.
void EdgeCoverageStamped(const uint8_t* cov, int32_t width, int32_t height, int32_t e, std::vector<uint8_t>* out);
// The plain (2e + 1)-square loop of the anti-aliased edge, for comparison.
void EdgeCoverageAntialiasedNaive(const uint8_t* cov, int32_t width, int32_t height, int32_t e,
                                  std::vector<uint8_t>* out);
