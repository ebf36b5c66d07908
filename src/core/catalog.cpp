// Catalogs: none are read yet, so every text is the built-in one.
#include "core/catalog.h"

namespace {
CatalogRecord* playerCatalog = nullptr;
}

CatalogRecord* LoadCatalog(const char*) { return nullptr; }

const char* GetCatalogText(const CatalogRecord*, int, const char* defaultText) { return defaultText; }

void FreeCatalog(CatalogRecord*) {}

CatalogRecord* GetPlayerCatalog() { return playerCatalog; }

void SetPlayerCatalog(CatalogRecord* catalog) { playerCatalog = catalog; }
