// Catalogs that translate the player's and the scripts' texts.
#pragma once

struct CatalogRecord;

// Null when no catalog for the user's language exists.
CatalogRecord* LoadCatalog(const char* name);
const char* GetCatalogText(const CatalogRecord* catalog, int id, const char* defaultText);
void FreeCatalog(CatalogRecord* catalog);

// The player's own catalog ("Quenbrook.catalog"), opened at start-up.
CatalogRecord* GetPlayerCatalog();
void SetPlayerCatalog(CatalogRecord* catalog);
