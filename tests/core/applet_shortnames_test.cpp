// Every short name of an applet's records (a declaration's loader and
// adapter, a display's title and the strings after it, the old title
// section) holds 255 bytes: at that length it reads back whole, one byte
// more is a damaged file.
#include <functional>
#include <variant>

#include "applet_fixture.h"
#include "core/errcodes.h"
#include "core/preproc.h"

namespace {

using AppletShortNameTest = AppletFixture;

const qbDisplayDeclaration& FirstDisplay(const qbApplet& applet) {
    for (const qbPreprocessorEntry& e : applet.preprocessorList)
        if (const auto* d = std::get_if<qbDisplayDeclaration>(&e.record)) return *d;
    static const qbDisplayDeclaration none;
    return none;
}

TEST_F(AppletShortNameTest, EveryShortNameHoldsItsLongestAndNoMore) {
    struct Field {
        const char* name;
        std::function<void(AppletDesc&, const std::string&)> put;
        std::function<std::string(const qbApplet&)> get;
    };
    auto display = [](AppletDesc& desc) -> DisplayDesc& {
        if (desc.declarations.empty()) {
            DeclarationDesc d;
            d.type = kDeclDisplay;
            desc.declarations.push_back(d);
        }
        return desc.declarations[0].display;
    };
    const Field fields[] = {
        {"loader", [&](AppletDesc& d, const std::string& s) {
             display(d);
             d.declarations[0].loader = s;
         },
         [](const qbApplet& a) { return a.preprocessorList.at(0).loader; }},
        {"adapter", [&](AppletDesc& d, const std::string& s) {
             display(d);
             d.declarations[0].adapter = s;
         },
         [](const qbApplet& a) { return a.preprocessorList.at(0).adapter; }},
        {"title", [&](AppletDesc& d, const std::string& s) { display(d).title = s; },
         [](const qbApplet& a) { return FirstDisplay(a).title; }},
        {"string 0", [&](AppletDesc& d, const std::string& s) { display(d).strings[0] = s; },
         [](const qbApplet& a) { return FirstDisplay(a).extraStrings[0]; }},
        {"string 1", [&](AppletDesc& d, const std::string& s) { display(d).strings[1] = s; },
         [](const qbApplet& a) { return FirstDisplay(a).extraStrings[1]; }},
        {"string 2", [&](AppletDesc& d, const std::string& s) { display(d).strings[2] = s; },
         [](const qbApplet& a) { return FirstDisplay(a).extraStrings[2]; }},
        {"string 3", [&](AppletDesc& d, const std::string& s) { display(d).strings[3] = s; },
         [](const qbApplet& a) { return FirstDisplay(a).extraStrings[3]; }},
        {"title section",
         [](AppletDesc& d, const std::string& s) {
             d.rawSections = {DisplayTitleSection(s), DisplaySizeSection(320, 200)};
         },
         [](const qbApplet& a) { return FirstDisplay(a).title; }},
    };
    for (const Field& field : fields) {
        AppletDesc desc = Minimal({6, 1});
        const std::string longest(kDeclShortNameSize - 1, 'n');
        field.put(desc, longest);
        ASSERT_EQ(Load(desc), 0) << field.name;
        EXPECT_EQ(field.get(applet_), longest) << field.name;
        for (size_t over : {size_t{1}, size_t{2}}) {
            desc = Minimal({6, 1});
            field.put(desc, std::string(kDeclShortNameSize - 1 + over, 'n'));
            EXPECT_EQ(Load(desc), ERR_READ) << field.name << " " << over << " past";
        }
    }
}

}  // namespace
