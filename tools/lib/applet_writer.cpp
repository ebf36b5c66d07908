// Applet container layout: which sections an AppletDesc produces, where the
// data they point at lands, the icon block, and the compressed form.
#include "lib/applet_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

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

DataPlacement PlaceData(const AppletDesc& desc, uint32_t base) {
    DataPlacement d;
    auto place = [&](const std::vector<uint8_t>& data) {
        std::pair<uint32_t, uint32_t> at{base + static_cast<uint32_t>(d.bytes.size()), static_cast<uint32_t>(data.size())};
        d.bytes.insert(d.bytes.end(), data.begin(), data.end());
        return at;
    };
    for (const DeclarationDesc& decl : desc.declarations) {
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
    for (const LinkedFileDesc& file : desc.linkedFiles)
        d.linkedFiles.push_back(file.placement == LinkPlacement::Elsewhere ? place(file.data)
                                                                           : std::pair<uint32_t, uint32_t>{0, 0});
    return d;
}

AppletSection IncludeSection(const AppletDesc& desc) {
    const uint8_t tag = desc.includeForm == IncludeForm::Plain   ? kTagIncludePlain
                        : desc.includeForm == IncludeForm::Named ? kTagIncludeNamed
                                                                 : kTagIncludeComplemented;
    AppletSection s{tag, {}};
    auto complemented = [&s](const std::string& text) {
        for (char c : text) s.payload.push_back(static_cast<uint8_t>(~static_cast<uint8_t>(c)));
        s.payload.push_back(kComplementedEnd);
    };
    PutU32BE(s.payload, static_cast<uint32_t>(desc.includes.size()));
    for (const AppletInclude& include : desc.includes) {
        PutU32BE(s.payload, include.first);
        PutU32BE(s.payload, include.last);
        PutU32BE(s.payload, include.offset);
        if (desc.includeForm == IncludeForm::Complemented) {
            complemented(include.file);
            complemented(include.source);
        } else {
            PutCString(s.payload, include.file);
            if (desc.includeForm == IncludeForm::Named) PutCString(s.payload, include.source);
        }
    }
    return s;
}

AppletSection DeclarationsSection(const AppletDesc& desc, const DataPlacement& data, AppletVersionPair v) {
    AppletSection s{kTagDeclarations, {}};
    PutU32BE(s.payload, static_cast<uint32_t>(desc.declarations.size()));
    for (size_t i = 0; i < desc.declarations.size(); ++i) {
        const DeclarationDesc& d = desc.declarations[i];
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

AppletSection LinkedFilesSection(const AppletDesc& desc, const DataPlacement& data) {
    AppletSection s{kTagLinkedFiles, {}};
    PutU32BE(s.payload, static_cast<uint32_t>(desc.linkedFiles.size()));
    PutU32BE(s.payload, 0);
    for (size_t i = 0; i < desc.linkedFiles.size(); ++i) {
        const LinkedFileDesc& f = desc.linkedFiles[i];
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

AppletSection ConstantsSection(const AppletDesc& desc) {
    AppletSection s{kTagConstants, {}};
    for (const ConstantDesc& c : desc.constants) {
        PutCString(s.payload, c.name);
        PutU8(s.payload, c.isText ? 1 : 0);
        if (c.isText) PutCString(s.payload, c.text);
        else PutDoubleBE(s.payload, c.number);
    }
    PutCString(s.payload, "");
    return s;
}

AppletSection TimerSection(const TimerDesc& t, AppletVersionPair v) {
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

std::vector<AppletSection> BuildAppletSections(const AppletDesc& desc) {
    const AppletVersionPair v = desc.version.value_or(AppletVersionPair{0, 0});
    std::vector<AppletSection> sections;
    if (desc.version) sections.push_back({kTagVersion, {desc.version->first, desc.version->second}});
    for (const auto& [tag, text] : desc.headerStrings) {
        AppletSection s{tag, {}};
        PutCString(s.payload, text);
        sections.push_back(std::move(s));
    }
    const auto dataOffset = static_cast<uint32_t>(kMagicSize + SectionsSize(sections) + kSectionHead);
    const DataPlacement data = PlaceData(desc, dataOffset);
    if (!data.bytes.empty()) sections.push_back(SkipSection(data.bytes));
    if (!desc.labels.empty()) {
        AppletSection s{kTagLabels, {}};
        PutU32BE(s.payload, static_cast<uint32_t>(desc.labels.size()));
        for (const AppletLabel& label : desc.labels) {
            PutU32BE(s.payload, label.value);
            PutCString(s.payload, label.name);
        }
        sections.push_back(std::move(s));
    }
    if (!desc.includes.empty()) sections.push_back(IncludeSection(desc));
    if (!desc.declarations.empty()) sections.push_back(DeclarationsSection(desc, data, v));
    if (!desc.linkedFiles.empty()) sections.push_back(LinkedFilesSection(desc, data));
    if (!desc.constants.empty()) sections.push_back(ConstantsSection(desc));
    if (desc.timer) sections.push_back(TimerSection(*desc.timer, v));
    sections.insert(sections.end(), desc.rawSections.begin(), desc.rawSections.end());
    if (desc.body) {
        AppletSection s{kTagBody, {}};
        PutU32BE(s.payload, desc.bodySizeOverride.value_or(static_cast<uint32_t>(desc.body->size())));
        s.payload.insert(s.payload.end(), desc.body->begin(), desc.body->end());
        sections.push_back(std::move(s));
    }
    return sections;
}

std::vector<uint8_t> BuildIconBlock(const std::vector<IconDesc>& icons) {
    std::vector<uint8_t> out{kIconMark, 0, 0};
    for (const IconDesc& icon : icons) {
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

std::vector<uint8_t> BuildApplet(const AppletDesc& desc) {
    std::vector<uint8_t> out(kMagicSize, 0);
    std::memcpy(out.data(), desc.magic.data(), std::min(desc.magic.size(), kMagicSize));
    for (const AppletSection& s : BuildAppletSections(desc)) {
        out.push_back(s.tag);
        out.insert(out.end(), s.payload.begin(), s.payload.end());
    }
    out.resize(out.size() + desc.paddingAfterBody, 0);
    if (desc.compress) out = CompressApplet(out);
    if (!desc.icons.empty()) {
        std::vector<uint8_t> block = BuildIconBlock(desc.icons);
        out.insert(out.end(), block.begin(), block.end());
    }
    if (desc.truncateAt && *desc.truncateAt < out.size()) out.resize(*desc.truncateAt);
    return out;
}
