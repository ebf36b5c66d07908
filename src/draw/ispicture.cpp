// IsPicture: asks the picture loaders whether a file is a picture they read,
// without decoding it.
#include <string>

#include "core/argapi.h"
#include "core/linkedfile.h"
#include "core/truth.h"
#include "draw/graphicslib.h"
#include "imaging/loaderchain.h"

int cmdIsPicture(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const char* name = ResolveLinkedFileArg(L, 1, 0, nullptr);
    const std::string fileName = name ? name : "";
    std::string loader;
    std::string adapter;
    if (VmGetTop(L) >= 2 && VmType(L, 2) == kTypeTable) {
        const char* s = nullptr;
        if (GetTableFieldString(L, 2, "loader", &s, nullptr) && s) loader = s;
        s = nullptr;
        if (GetTableFieldString(L, 2, "adapter", &s, nullptr) && s) adapter = s;
    }
    qbImageProbe probe;
    const int found = ProbeImageFile(fileName.c_str(), loader.empty() ? nullptr : loader.c_str(),
                                     adapter.empty() ? nullptr : adapter.c_str(), kImageOpenMode, &probe);
    PushTruth(L, found != 0);
    VmPushNewTable(L);
    if (found) {
        SetTableFieldInt(L, "width", probe.width);
        SetTableFieldInt(L, "height", probe.height);
        SetTableFieldInt(L, "alpha", probe.hasAlpha);
        SetTableFieldInt(L, "vector", probe.isVector);
        SetTableFieldInt(L, "transparency", probe.transparency);
    }
    return 2;
}
