// Fuzz target of the catalog parser: any bytes become a catalog or are
// rejected, and every text handed out must be a terminated string inside the
// catalog's data or the default.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CatalogPtr catalog(MakeCatalogFromData(data, size));
    if (!catalog) return 0;
    static const char kDefault[] = "default";
    size_t total = 0;
    // The first ids, the ids the data itself suggests, and the edges.
    for (int id = -1; id < 16; ++id) total += std::strlen(GetCatalogText(catalog.get(), id, kDefault));
    for (size_t i = 0; i + 4 <= size && i < 256; i += 4) {
        const int id = static_cast<int>((static_cast<uint32_t>(data[i]) << 24) | (data[i + 1] << 16) |
                                        (data[i + 2] << 8) | data[i + 3]);
        total += std::strlen(GetCatalogText(catalog.get(), id, kDefault));
    }
    total += std::strlen(GetCatalogText(catalog.get(), INT32_MAX, kDefault));
    return total == SIZE_MAX ? 1 : 0;
}
