// Linked-file lookup through the applet record in the registry.
#include "core/linkedfile.h"

#include <cstring>
#include <string>

#include "core/applet.h"
#include "core/chars.h"
#include "core/chunkname.h"
#include "core/linkeddata.h"

namespace {

constexpr char kFontPrefix[] = "::font:";
constexpr size_t kFontPrefixLength = sizeof(kFontPrefix) - 1;

bool EndsWithNoCase(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && StrCmpNoCase(text.c_str() + text.size() - n, suffix) == 0;
}

std::string Slashed(const char* name) {
    std::string out(name);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

const qbLinkedFile* FindEntry(const qbApplet& applet, const std::string& wanted, bool font) {
    const std::string slashed = Slashed(wanted.c_str());
    for (const qbLinkedFile& entry : applet.linkedFiles) {
        const bool isFontEntry = StrNCmpNoCase(entry.name.c_str(), kFontPrefix, kFontPrefixLength) == 0;
        if (isFontEntry != font) continue;
        if (font ? StrCmpNoCase(entry.name.c_str() + kFontPrefixLength, wanted.c_str()) == 0
                 : StrCmpNoCase(Slashed(entry.name.c_str()).c_str(), slashed.c_str()) == 0)
            return &entry;
    }
    return nullptr;
}

}  // namespace

const char* ResolveLinkedFile(ScriptState* L, const char* name, int fontFlag, int* isFont) {
    if (isFont) *isFont = 0;
    if (!L || !name) return name;
    const auto* applet = static_cast<const qbApplet*>(VmRegistryGetUserdata(L, "applet"));
    if (!applet || applet->linkedFiles.empty()) return name;
    std::string wanted(name);
    bool font = false;
    if (fontFlag && !EndsWithNoCase(wanted, ".ttf") && !EndsWithNoCase(wanted, ".otf")) {
        font = true;
        if (EndsWithNoCase(wanted, ".font")) wanted.resize(wanted.size() - 5);
    }
    const qbLinkedFile* entry = FindEntry(*applet, wanted, font);
    if (!entry) return name;
    std::string container = entry->appletPath;
    if (container.empty()) {
        const auto* cl = static_cast<const qbCommandLine*>(VmRegistryGetUserdata(L, "clargs"));
        if (cl) container = cl->scriptPath;
    }
    const char* ownName = entry->name.c_str() + (font ? kFontPrefixLength : 0);
    // Per thread: a loader thread must not overwrite the main thread's name.
    thread_local std::string resolved;
    resolved = MakeChunkName(ownName, entry->offset, entry->size, LinkedDataOffset, container.c_str());
    if (isFont) *isFont = font;
    return resolved.c_str();
}

const char* ResolveLinkedFileArg(ScriptState* L, int index, int fontFlag, int* isFont) {
    return ResolveLinkedFile(L, VmCheckString(L, index, nullptr), fontFlag, isFont);
}
