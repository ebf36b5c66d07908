// GetAttribute's table once every library the player opens has added its
// rows: every pair has its row, so a library that brings objects without
// their rows fails here.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "attribute_table.h"
#include "core/applet.h"
#include "core/linkeddata.h"
#include "core/settings.h"
#include "draw/attributes.h"
#include "player/cmdline.h"
#include "vm/vm.h"

namespace {

TEST(AttributeWalkTest, EveryTypeWhoseObjectsExistHasAllItsRows) {
    ScriptState* L = VmOpen();
    ASSERT_NE(L, nullptr);
    qbLinkMarker marker;
    BuildLinkMarker(&marker);
    qbCommandLine cl;
    qbApplet applet;
    std::vector<std::string> args{"quenbrookplayer", "-quiet", "walk.qba"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ASSERT_EQ(ParseCommandLine(L, &cl, &applet, &marker, static_cast<int>(args.size()), argv.data()), 0);
    std::set<std::pair<int32_t, int32_t>> missing;
    for (const auto& [type, attributes] : attribute_table::kPairs)
        for (int32_t attribute : attributes)
            if (!HasAttributeRow(type, attribute)) missing.insert({type, attribute});
    EXPECT_EQ(missing, (std::set<std::pair<int32_t, int32_t>>{}));
    FreeRuntimeLists(L);
    VmClose(L);
}

}  // namespace
