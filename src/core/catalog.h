// Catalogs that translate the player's and the scripts' texts: an IFF file of
// form CTLG or a plain text file with one string per line, found in a
// "Catalogs" folder under a folder named after the user's language.
#pragma once

#include <cstddef>
#include <memory>

struct CatalogRecord;

// Null when the user's language is English or unknown, or no usable catalog
// of that name exists; callers then use their built-in texts.
CatalogRecord* LoadCatalog(const char* name);
// The catalog for the data of a catalog file (null when it is rejected).
CatalogRecord* MakeCatalogFromData(const void* data, size_t size);
// The catalog's text for id, or defaultText when there is none: no catalog,
// no such string, or an entry that doesn't fit the data or has no
// terminator inside it.
const char* GetCatalogText(const CatalogRecord* catalog, int id, const char* defaultText);
void FreeCatalog(CatalogRecord* catalog);

struct CatalogFreer {
    void operator()(CatalogRecord* c) const { FreeCatalog(c); }
};
using CatalogPtr = std::unique_ptr<CatalogRecord, CatalogFreer>;

// The folder names tried for a LANGUAGE_* index, in the order tried (the
// English name, then the native one); null past the table.
const char* GetCatalogFolderName(int language, int native);

// The player's own catalog ("Quenbrook.catalog"), opened at start-up.
CatalogRecord* GetPlayerCatalog();
void SetPlayerCatalog(CatalogRecord* catalog);
