// Tables 6 and 9 of the plugin base: the installed-font lookup, and the
// three Vera faces built into the player.
#include <cstdio>
#include <cstring>

#include "core/runstate.h"
#include "plugins/basetables.h"
#include "text/installedfonts.h"
#include "text/verafonts.h"

namespace {

int FindInstalledFontSlot(const char* name, int32_t weight, int32_t slant, uint32_t flags, char* to, size_t size,
                          int64_t* offset, int64_t* length) {
    if (name == nullptr || to == nullptr) return 0;
    qbFoundFont found;
    if (!FindInstalledFont(name, weight < 0 ? -1 : weight, slant, flags & QBFONT_SKIPPACKED, &found)) return 0;
    if (found.path.size() >= size) {
        if (found.temporary) std::remove(found.path.c_str());
        return 0;
    }
    // An extracted collection member lives until the player ends.
    if (found.temporary && AddTemporaryFile(found.path.c_str()) != 0) {
        std::remove(found.path.c_str());
        return 0;
    }
    std::memcpy(to, found.path.c_str(), found.path.size() + 1);
    if (offset) *offset = found.dataOffset;
    if (length) *length = found.dataSize;
    return 1;
}

qbDataTable MakeDataTable() {
    constexpr int kSans = 0, kSerif = 1, kSansMono = 2;
    qbDataTable table{};
    const int order[3] = {kSans, kSansMono, kSerif};
    for (int i = 0; i < 3; ++i) {
        const qbEmbeddedFont font = GetEmbeddedVera(order[i]);
        table.fonts[i] = font.data;
        table.fontSizes[i] = font.size;
    }
    return table;
}

}  // namespace

const qbFontTable kPluginFontTable = {FindInstalledFontSlot, {nullptr, nullptr}};

const qbDataTable kPluginDataTable = MakeDataTable();
