// Applet container layout: which sections an AppletSpec produces and their payloads.
#include "lib/applet_writer.h"

#include <algorithm>

void PutU32BE(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutCString(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

std::vector<AppletSection> BuildAppletSections(const AppletSpec& spec) {
    std::vector<AppletSection> sections;
    if (spec.version) sections.push_back({kTagVersion, {spec.version->first, spec.version->second}});
    for (const auto& [tag, text] : spec.headerStrings) {
        AppletSection s{tag, {}};
        PutCString(s.payload, text);
        sections.push_back(std::move(s));
    }
    if (!spec.labels.empty()) {
        AppletSection s{kTagLabels, {}};
        PutU32BE(s.payload, static_cast<uint32_t>(spec.labels.size()));
        for (const AppletLabel& label : spec.labels) {
            PutU32BE(s.payload, label.value);
            PutCString(s.payload, label.name);
        }
        sections.push_back(std::move(s));
    }
    if (!spec.includes.empty()) {
        AppletSection s{kTagIncludeNamed, {}};
        PutU32BE(s.payload, static_cast<uint32_t>(spec.includes.size()));
        for (const AppletInclude& include : spec.includes) {
            PutU32BE(s.payload, include.first);
            PutU32BE(s.payload, include.last);
            PutU32BE(s.payload, include.offset);
            PutCString(s.payload, include.file);
            PutCString(s.payload, include.source);
        }
        sections.push_back(std::move(s));
    }
    sections.insert(sections.end(), spec.rawSections.begin(), spec.rawSections.end());
    if (spec.body) {
        AppletSection s{kTagBody, {}};
        PutU32BE(s.payload, spec.bodySizeOverride.value_or(static_cast<uint32_t>(spec.body->size())));
        s.payload.insert(s.payload.end(), spec.body->begin(), spec.body->end());
        sections.push_back(std::move(s));
    }
    return sections;
}

std::vector<uint8_t> BuildApplet(const AppletSpec& spec) {
    std::vector<uint8_t> out(spec.magic.begin(),
                             spec.magic.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(spec.magic.size(), 4)));
    out.resize(4, 0);
    for (const AppletSection& s : BuildAppletSections(spec)) {
        out.push_back(s.tag);
        out.insert(out.end(), s.payload.begin(), s.payload.end());
    }
    if (spec.truncateAt && *spec.truncateAt < out.size()) out.resize(*spec.truncateAt);
    return out;
}
