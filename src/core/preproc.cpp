// The declaration records: their defaults, the list that the applet loader
// fills, and display 1 for applets that declare no display of their own.
#include "core/preproc.h"

#include <new>
#include <utility>

#include "core/applet.h"
#include "core/chars.h"
#include "core/errcodes.h"

namespace {

// Fonts that the player itself provides: they are never files of the applet.
constexpr const char* kBuiltInFonts[] = {
    ":::default_sans", ":::default_serif", ":::default_mono", ":::default_bitmap", ":::default_truetype",
};

bool IsBuiltInFont(const std::string& name) {
    for (const char* font : kBuiltInFonts)
        if (StrCmpNoCase(name.c_str(), font) == 0) return true;
    return false;
}

}  // namespace

void InitBackfillOptions(qbBackfillOptions& backfill) { backfill = qbBackfillOptions{}; }

void InitPreprocessorDefaults(qbGradientOptions& gradient) { gradient = qbGradientOptions{}; }

void InitDisplayDeclaration(qbDisplayDeclaration& decl) {
    decl = qbDisplayDeclaration{};
    InitPreprocessorDefaults(decl.gradient);
    decl.gradient.startColor = decl.color;
    InitBackfillOptions(decl.backfill);
}

qbTypeRecord DefaultTypeRecord(int type) {
    switch (type) {
    case kDeclBGPic: return qbBGPicRecord{};
    case kDeclBrush:
    case kDeclAnim:
    case kDeclSprite: return qbImageRecord{};
    case kDeclButton: return qbButtonRecord{};
    case kDeclDisplay: {
        qbDisplayDeclaration decl;
        InitDisplayDeclaration(decl);
        return decl;
    }
    case kDeclPlugin: return qbPluginTagList{};
    case kDeclMenu: return qbMenuTree{};
    default: return std::monostate{};
    }
}

int AddPreprocessorEntry(qbApplet* applet, qbPreprocessorEntry entry) {
    try {
        if (std::holds_alternative<std::monostate>(entry.record)) entry.record = DefaultTypeRecord(entry.type);
        if (entry.type == kDeclFont && IsBuiltInFont(entry.name)) entry.flag = 0;
        applet->preprocessorList.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

int AddDefaultDisplayEntry(qbApplet* applet, const char* title) {
    try {
        qbDisplayDeclaration decl;
        InitDisplayDeclaration(decl);
        decl.flags |= kDispActive;
        if (title) decl.title = title;
        qbPreprocessorEntry entry;
        entry.type = kDeclDisplay;
        entry.id = 1;
        entry.valueA = -1;
        entry.record = std::move(decl);
        return AddPreprocessorEntry(applet, std::move(entry));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
}

void FreePreprocessorList(std::vector<qbPreprocessorEntry>& list) {
    list.clear();
    list.shrink_to_fit();
}

qbPreprocessorEntry* FindPreprocessorEntry(qbApplet* applet, int type, int32_t id) {
    for (qbPreprocessorEntry& e : applet->preprocessorList)
        if (e.type == type && e.id == id) return &e;
    return nullptr;
}

qbDisplayDeclaration* GetDisplayDeclaration(qbPreprocessorEntry& entry) {
    return entry.type == kDeclDisplay ? std::get_if<qbDisplayDeclaration>(&entry.record) : nullptr;
}
