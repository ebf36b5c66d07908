// The layer source references: a flat list, since a picture holds few layers
// and the lookups run only when an object is changed or freed.
#include "objects/layersources.h"

#include <algorithm>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "objects/layers.h"

namespace {

struct Source {
    int type;
    ObjectID id;
};

std::vector<Source>& Sources() {
    static std::vector<Source> sources;
    return sources;
}

}  // namespace

int AddLayerSource(int type, ObjectID id) {
    try {
        Sources().push_back(Source{type, id});
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

bool RemoveLayerSource(int type, ObjectID id) {
    auto& s = Sources();
    const auto it = std::find_if(s.begin(), s.end(), [&](const Source& e) { return e.type == type && e.id == id; });
    if (it == s.end()) return false;
    s.erase(it);
    return true;
}

bool LayersShowObject(int type, ObjectID id) {
    const auto& s = Sources();
    return std::any_of(s.begin(), s.end(), [&](const Source& e) { return e.type == type && e.id == id; });
}

void RelinkLayerSources(int type, ObjectID from, ObjectID to) {
    for (Source& e : Sources())
        if (e.type == type && e.id == from) e.id = to;
    RelinkLayersToObject(type, from, to);
}

void ClearLayerSources() { Sources().clear(); }

int CountLayerSources(int type, ObjectID id) {
    const auto& s = Sources();
    return static_cast<int>(std::count_if(s.begin(), s.end(), [&](const Source& e) { return e.type == type && e.id == id; }));
}
