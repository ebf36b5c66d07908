// The ImageMagick peer of the distortion bench.
#include "magickpeer.h"

#include <magick/MagickCore.h>

#include <memory>

struct MagickPeer {
    Image* image = nullptr;
    ExceptionInfo* exception = nullptr;
};

MagickPeer* CreateMagickPeer(const uint32_t* pixels, int32_t width, int32_t height, bool smooth) {
    static const bool started = [] {
        MagickCoreGenesis(nullptr, MagickFalse);
        SetMagickResourceLimit(ThreadResource, 1);
        return true;
    }();
    (void)started;
    auto owner = std::make_unique<MagickPeer>();
    MagickPeer* peer = owner.get();
    peer->exception = AcquireExceptionInfo();
    peer->image = ConstituteImage(static_cast<size_t>(width), static_cast<size_t>(height), "BGRA", CharPixel, pixels,
                                  peer->exception);
    SetImageVirtualPixelMethod(peer->image, TransparentVirtualPixelMethod);
    peer->image->filter = smooth ? GaussianFilter : PointFilter;
    peer->image->interpolate = IntegerInterpolatePixel;
    return owner.release();
}

void RunMagickDistort(MagickPeer* peer, int32_t method, const double* args, size_t count) {
    const DistortImageMethod m = method == 4    ? PerspectiveDistortion
                                 : method == 9  ? ArcDistortion
                                 : method == 10 ? PolarDistortion
                                                : BarrelDistortion;
    // Barrel keeps the picture's size (-distort); the others fit the result.
    Image* out = DistortImage(peer->image, m, count, args, m == BarrelDistortion ? MagickFalse : MagickTrue,
                              peer->exception);
    if (out) DestroyImage(out);
}

void FreeMagickPeer(MagickPeer* peer) {
    const std::unique_ptr<MagickPeer> owner(peer);
    if (!peer) return;
    DestroyImage(peer->image);
    DestroyExceptionInfo(peer->exception);
}
