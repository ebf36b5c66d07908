// Fuzz target of the catalog parser: any bytes become a catalog or are
// rejected, and every text handed out must be a terminated string inside the
// catalog's data or the default.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/catalog.h"
#include "fuzznote.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CatalogPtr catalog(MakeCatalogFromData(data, size));
    FuzzNoteValue(catalog ? 1 : 0);
    if (!catalog) return 0;
    static const char kDefault[] = "default";
    size_t total = 0;
    // Each text, and whether it is the default itself or a text of the data.
    const auto text = [&](int id) {
        const char* t = GetCatalogText(catalog.get(), id, kDefault);
        FuzzNoteValue(t == kDefault);
        FuzzNoteText(t);
        return std::strlen(t);
    };
    // The first ids, the ids the data itself suggests, and the edges.
    for (int id = -1; id < 16; ++id) total += text(id);
    for (size_t i = 0; i + 4 <= size && i < 256; i += 4) {
        const int id = static_cast<int>((static_cast<uint32_t>(data[i]) << 24) | (data[i + 1] << 16) |
                                        (data[i + 2] << 8) | data[i + 3]);
        total += text(id);
    }
    total += text(INT32_MAX);
    return total == SIZE_MAX ? 1 : 0;
}
