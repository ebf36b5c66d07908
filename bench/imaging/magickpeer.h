// ImageMagick's DistortImage behind a small interface of its own: its
// headers declare names that the player's headers use too.
#pragma once

#include <cstddef>
#include <cstdint>

struct MagickPeer;

// A picture of 0xAARRGGBB words, one thread; smooth selects the Gaussian EWA
// filter, else the point filter with integer interpolation.
MagickPeer* CreateMagickPeer(const uint32_t* pixels, int32_t width, int32_t height, bool smooth);
// method: the engine's numbers (4 perspective, 12 barrel, 9 arc, 10 polar).
void RunMagickDistort(MagickPeer* peer, int32_t method, const double* args, size_t count);
void FreeMagickPeer(MagickPeer* peer);
