// GetAvailableFonts: a fresh scan of the font folders as a table of fonts.
#include "core/argapi.h"
#include "text/installedfonts.h"
#include "text/textlib.h"

namespace {

void SetString(ScriptState* L, const char* key, const std::string& value) {
    VmPushString(L, key);
    VmPushLString(L, value.data(), value.size());
    VmRawSet(L, -3);
}

void SetNumber(ScriptState* L, const char* key, double value) {
    VmPushString(L, key);
    VmPushNumber(L, value);
    VmRawSet(L, -3);
}

}  // namespace

int cmdGetAvailableFonts(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    FreeInstalledFonts();
    ScanFontDirectories(1);
    // A copy: the list is discarded before the table goes back.
    const std::vector<qbInstalledFont> fonts = InstalledFonts();
    FreeInstalledFonts();
    VmPushNewTable(L);
    int index = 0;
    for (const qbInstalledFont& f : fonts) {
        VmPushNewTable(L);
        SetString(L, "name", f.fullName);
        SetString(L, "family", f.family);
        SetNumber(L, "bitmap", f.bitmapFont ? 1 : 0);
        SetNumber(L, "weight", f.weight);
        SetNumber(L, "slant", f.slant);
        VmPushString(L, "sizes");
        VmPushNewTable(L);
        for (size_t i = 0; i < f.sizes.size(); ++i) {
            VmPushNumber(L, f.sizes[i]);
            VmRawSetIndex(L, -2, static_cast<int>(i));
        }
        VmRawSet(L, -3);
        VmRawSetIndex(L, -2, index++);
    }
    return 1;
}
