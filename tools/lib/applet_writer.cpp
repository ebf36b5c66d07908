// Applet container layout: which sections an AppletSpec produces, where the
// data they point at lands, the icon block, and the compressed form.
#include "lib/applet_writer.h"

#include <zlib.h>

#include <algorithm>

namespace {

constexpr size_t kMagicSize = 4;
constexpr size_t kSectionHead = 5;  // tag byte and u32 length of the data section
constexpr uint32_t kLinkedElsewhere = 0xFFFFFFFF;
constexpr uint32_t kLinkedDropped = 0xFFFFFFFE;
constexpr uint8_t kComplementedEnd = 0xFF;
constexpr uint8_t kIconMark = 'I';

// Where the declarations' names and files and the far linked files went.
struct DataPlacement {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<uint32_t, uint32_t>> names, linked, linkedFiles;  // offset, size
};

DataPlacement PlaceData(const AppletSpec& spec, uint32_t base) {
    DataPlacement d;
    auto place = [&](const std::vector<uint8_t>& data) {
        std::pair<uint32_t, uint32_t> at{base + static_cast<uint32_t>(d.bytes.size()), static_cast<uint32_t>(data.size())};
        d.bytes.insert(d.bytes.end(), data.begin(), data.end());
        return at;
    };
    for (const DeclarationSpec& decl : spec.declarations) {
        std::pair<uint32_t, uint32_t> name{0, 0}, linked{0, 0};
        if (decl.name) {
            std::vector<uint8_t> text(decl.name->begin(), decl.name->end());
            text.push_back(0);
            name = place(text);
        }
        if (decl.linkedData) linked = place(*decl.linkedData);
        d.names.push_back(name);
        d.linked.push_back(linked);
    }
    for (const LinkedFileSpec& file : spec.linkedFiles)
        d.linkedFiles.push_back(file.placement == LinkPlacement::Elsewhere ? place(file.data)
                                                                           : std::pair<uint32_t, uint32_t>{0, 0});
    return d;
}

AppletSection IncludeSection(const AppletSpec& spec) {
    const uint8_t tag = spec.includeForm == IncludeForm::Plain   ? kTagIncludePlain
                        : spec.includeForm == IncludeForm::Named ? kTagIncludeNamed
                                                                 : kTagIncludeComplemented;
    AppletSection s{tag, {}};
    auto complemented = [&s](const std::string& text) {
        for (char c : text) s.payload.push_back(static_cast<uint8_t>(~static_cast<uint8_t>(c)));
        s.payload.push_back(kComplementedEnd);
    };
    PutU32BE(s.payload, static_cast<uint32_t>(spec.includes.size()));
    for (const AppletInclude& include : spec.includes) {
        PutU32BE(s.payload, include.first);
        PutU32BE(s.payload, include.last);
        PutU32BE(s.payload, include.offset);
        if (spec.includeForm == IncludeForm::Complemented) {
            complemented(include.file);
            complemented(include.source);
        } else {
            PutCString(s.payload, include.file);
            if (spec.includeForm == IncludeForm::Named) PutCString(s.payload, include.source);
        }
    }
    return s;
}

AppletSection DeclarationsSection(const AppletSpec& spec, const DataPlacement& data, AppletVersionPair v) {
    AppletSection s{kTagDeclarations, {}};
    PutU32BE(s.payload, static_cast<uint32_t>(spec.declarations.size()));
    for (size_t i = 0; i < spec.declarations.size(); ++i) {
        const DeclarationSpec& d = spec.declarations[i];
        PutU8(s.payload, d.type);
        PutU32BE(s.payload, d.id);
        PutU32BE(s.payload, d.nameOffset.value_or(data.names[i].first));
        PutU32BE(s.payload, d.nameSize.value_or(data.names[i].second));
        PutU32BE(s.payload, d.linkedOffset.value_or(data.linked[i].first));
        PutU32BE(s.payload, d.linkedSize.value_or(data.linked[i].second));
        PutU32BE(s.payload, d.valueA);
        PutU32BE(s.payload, d.valueB);
        PutU32BE(s.payload, d.sourceLine);
        if (VersionAtLeast(v, 6, 0)) {
            PutShortString(s.payload, d.loader);
            PutShortString(s.payload, d.adapter);
        }
        PutTypeRecord(s.payload, d, v);
    }
    return s;
}

AppletSection LinkedFilesSection(const AppletSpec& spec, const DataPlacement& data) {
    AppletSection s{kTagLinkedFiles, {}};
    PutU32BE(s.payload, static_cast<uint32_t>(spec.linkedFiles.size()));
    PutU32BE(s.payload, 0);
    for (size_t i = 0; i < spec.linkedFiles.size(); ++i) {
        const LinkedFileSpec& f = spec.linkedFiles[i];
        PutCString(s.payload, f.name);
        switch (f.placement) {
        case LinkPlacement::Inline:
            PutU32BE(s.payload, f.sizeOverride.value_or(static_cast<uint32_t>(f.data.size())));
            s.payload.insert(s.payload.end(), f.data.begin(), f.data.end());
            break;
        case LinkPlacement::Elsewhere:
            PutU32BE(s.payload, kLinkedElsewhere);
            PutU32BE(s.payload, f.sizeOverride.value_or(data.linkedFiles[i].second));
            PutU32BE(s.payload, f.offsetOverride.value_or(data.linkedFiles[i].first));
            break;
        case LinkPlacement::Dropped: PutU32BE(s.payload, kLinkedDropped); break;
        }
    }
    return s;
}

AppletSection ConstantsSection(const AppletSpec& spec) {
    AppletSection s{kTagConstants, {}};
    for (const ConstantSpec& c : spec.constants) {
        PutCString(s.payload, c.name);
        PutU8(s.payload, c.isText ? 1 : 0);
        if (c.isText) PutCString(s.payload, c.text);
        else PutDoubleBE(s.payload, c.number);
    }
    PutCString(s.payload, "");
    return s;
}

AppletSection TimerSection(const TimerSpec& t, AppletVersionPair v) {
    AppletSection s{kTagTimer, {}};
    PutU32BE(s.payload, t.flags);
    if (VersionAtLeast(v, 6, 0)) {
        PutU32BE(s.payload, t.value1);
        PutU32BE(s.payload, t.value2);
        PutU8(s.payload, t.byte);
    }
    return s;
}

size_t SectionsSize(const std::vector<AppletSection>& sections) {
    size_t n = 0;
    for (const AppletSection& s : sections) n += 1 + s.payload.size();
    return n;
}

}  // namespace

std::vector<AppletSection> BuildAppletSections(const AppletSpec& spec) {
    const AppletVersionPair v = spec.version.value_or(AppletVersionPair{0, 0});
    std::vector<AppletSection> sections;
    if (spec.version) sections.push_back({kTagVersion, {spec.version->first, spec.version->second}});
    for (const auto& [tag, text] : spec.headerStrings) {
        AppletSection s{tag, {}};
        PutCString(s.payload, text);
        sections.push_back(std::move(s));
    }
    const auto dataOffset = static_cast<uint32_t>(kMagicSize + SectionsSize(sections) + kSectionHead);
    const DataPlacement data = PlaceData(spec, dataOffset);
    if (!data.bytes.empty()) sections.push_back(SkipSection(data.bytes));
    if (!spec.labels.empty()) {
        AppletSection s{kTagLabels, {}};
        PutU32BE(s.payload, static_cast<uint32_t>(spec.labels.size()));
        for (const AppletLabel& label : spec.labels) {
            PutU32BE(s.payload, label.value);
            PutCString(s.payload, label.name);
        }
        sections.push_back(std::move(s));
    }
    if (!spec.includes.empty()) sections.push_back(IncludeSection(spec));
    if (!spec.declarations.empty()) sections.push_back(DeclarationsSection(spec, data, v));
    if (!spec.linkedFiles.empty()) sections.push_back(LinkedFilesSection(spec, data));
    if (!spec.constants.empty()) sections.push_back(ConstantsSection(spec));
    if (spec.timer) sections.push_back(TimerSection(*spec.timer, v));
    sections.insert(sections.end(), spec.rawSections.begin(), spec.rawSections.end());
    if (spec.body) {
        AppletSection s{kTagBody, {}};
        PutU32BE(s.payload, spec.bodySizeOverride.value_or(static_cast<uint32_t>(spec.body->size())));
        s.payload.insert(s.payload.end(), spec.body->begin(), spec.body->end());
        sections.push_back(std::move(s));
    }
    return sections;
}

std::vector<uint8_t> BuildIconBlock(const std::vector<IconSpec>& icons) {
    std::vector<uint8_t> out{kIconMark, 0, 0};
    for (const IconSpec& icon : icons) {
        PutI16BE(out, icon.width);
        PutI16BE(out, icon.height);
        PutU8(out, icon.flags);
        PutU32BE(out, icon.sizeOverride.value_or(static_cast<uint32_t>(icon.data.size())));
        out.insert(out.end(), icon.data.begin(), icon.data.end());
    }
    PutI16BE(out, 0);
    return out;
}

std::vector<uint8_t> CompressApplet(const std::vector<uint8_t>& plain) {
    uLongf packedSize = compressBound(static_cast<uLong>(plain.size()));
    std::vector<uint8_t> out{'Q', 'B', 'Z', 0};
    PutU32BE(out, static_cast<uint32_t>(plain.size()));
    const size_t head = out.size();
    out.resize(head + packedSize);
    if (compress2(out.data() + head, &packedSize, plain.data(), static_cast<uLong>(plain.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        return {};
    out.resize(head + packedSize);
    return out;
}

std::vector<uint8_t> BuildApplet(const AppletSpec& spec) {
    std::vector<uint8_t> out(spec.magic.begin(),
                             spec.magic.begin() + static_cast<std::ptrdiff_t>(std::min(spec.magic.size(), kMagicSize)));
    out.resize(kMagicSize, 0);
    for (const AppletSection& s : BuildAppletSections(spec)) {
        out.push_back(s.tag);
        out.insert(out.end(), s.payload.begin(), s.payload.end());
    }
    out.resize(out.size() + spec.paddingAfterBody, 0);
    if (spec.compress) out = CompressApplet(out);
    if (!spec.icons.empty()) {
        std::vector<uint8_t> block = BuildIconBlock(spec.icons);
        out.insert(out.end(), block.begin(), block.end());
    }
    if (spec.truncateAt && *spec.truncateAt < out.size()) out.resize(*spec.truncateAt);
    return out;
}
