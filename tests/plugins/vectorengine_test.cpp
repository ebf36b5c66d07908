// A vector-engine plugin chosen with SetVectorEngine: the path commands reach
// its hooks with the stream and records laid out as a plugin reads them, its
// own font handles go into text commands, and a failed or uncallable choice
// leaves the inbuilt engine serving.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "command_call.h"
#include "core/errcodes.h"
#include "core/objects.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "plugin_fixture.h"
#include "plugins/pluginlist.h"
#include "plugins/pluginvector.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/text.h"
#include "text/textlib.h"
#include "vector/engine.h"
#include "vector/path.h"
#include "vector/vectorengines.h"
#include "vector/vectorlib.h"

namespace {

// What Run gives for a command that raised `code`. Built by appending: g++ 12
// at -O3 warns falsely (-Wrestrict) on a literal prepended to a temporary.
std::string Failure(int code) {
    std::string s("E");
    s += std::to_string(code);
    return s;
}

using plugintest::PluginFixture;

class VectorEngineTest : public PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        InstallVmHost();
        L = VmOpen();
        ASSERT_NE(L, nullptr);
        SetRuntimeTag(kTagQuiet, 1);
        for (auto init : {InitTextLibrary, InitVectorLibrary}) {
            VmPushValue(L, kGlobalsIndex);
            ASSERT_EQ(init(L), 0);
            VmSetTop(L, 0);
        }
        InstallPluginVectorEngines();
        *GetDrawState() = DefaultDrawState();
    }
    void TearDown() override {
        FreeVectorLibrary(L);
        PluginFixture::TearDown();  // unloads the plugins
        FreeTextLibrary(L);
        FreeObjectTypeRegistry();
        VmClose(L);
        ResetRuntimeSettings();
        *GetDrawState() = DefaultDrawState();
    }

    qbVectorEngine* Load(const std::string& variant, const std::string& file) {
        qbPluginNode* node = nullptr;
        EXPECT_EQ(LoadPluginByPath(Place(variant, file).c_str(), 1, &node), 0);
        return node && node->handle ? &node->handle->vectorEngine : nullptr;
    }

    void UseVeraFont(int32_t size) {
        qbFont* font = nullptr;
        ASSERT_EQ(OpenFontCached(":::default_sans", size, kFontEngineInbuilt, 1, 0, &font), 0);
        GetTextStyle()->font = font;
    }

    // Arguments: numbers, texts, or an option table {key = number}.
    struct Options {
        const char* key;
        double value;
    };
    using Arg = std::variant<double, std::string, Options>;
    std::string Run(const char* command, const std::vector<Arg>& args) {
        VmSetTop(L, 0);
        for (const Arg& a : args) {
            if (auto* n = std::get_if<double>(&a)) {
                VmPushNumber(L, *n);
            } else if (auto* s = std::get_if<std::string>(&a)) {
                VmPushLString(L, s->data(), s->size());
            } else {
                const Options& o = std::get<Options>(a);
                VmPushNewTable(L);
                VmPushString(L, o.key);
                VmPushNumber(L, o.value);
                VmRawSet(L, -3);
            }
        }
        if (int err = CallCommand(L, command, static_cast<int>(args.size()), kMultRet))
            return Failure(err);
        std::string out;
        for (int i = 1; i <= VmGetTop(L); ++i) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%s%.14g", i > 1 ? "|" : "", VmToNumber(L, i));
            out += buf;
        }
        return out;
    }

    // The log's lines that a hook wrote, without the plugin's name.
    std::vector<std::string> HookLines(const std::string& hook) const {
        std::vector<std::string> lines;
        std::istringstream in(Log());
        for (std::string line; std::getline(in, line);) {
            const size_t at = line.find(": " + hook);
            if (at != std::string::npos) lines.push_back(line.substr(at + 2));
        }
        return lines;
    }

    ScriptState* L = nullptr;
};

TEST_F(VectorEngineTest, TheChosenPluginMeasuresMovesAndReadsEveryCommand) {
    qbVectorEngine* engine = Load("vecengine", "vecengine.qbp");
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->vectorExtension, 0);
    EXPECT_EQ(Run("SetVectorEngine", {std::string("VecEngine")}), "");
    EXPECT_EQ(ActiveVectorEngine(), engine);
    UseVeraFont(20);

    ASSERT_EQ(Run("StartPath", {1.0}), "");
    ASSERT_EQ(Run("MoveTo", {1.0, 10.0, 20.0}), "");
    ASSERT_EQ(Run("RelLineTo", {1.0, 5.0, -5.0}), "");
    ASSERT_EQ(Run("CurveTo", {1.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0}), "");
    ASSERT_EQ(Run("StartSubPath", {1.0}), "");
    ASSERT_EQ(Run("ClosePath", {1.0}), "");
    ASSERT_EQ(Run("AddArcToPath", {1.0, 50.0, 60.0, 10.0, 5.0, 0.0, 90.0, 0.0}), "");
    ASSERT_EQ(Run("AddBoxToPath", {1.0, 1.0, 2.0, 3.0, 4.0, Options{"roundlevel", 20}}), "");
    ASSERT_EQ(Run("AddTextToPath", {1.0, std::string("abc")}), "");
    ASSERT_EQ(Run("LineTo", {1.0, 70.0, 80.0}), "");
    EXPECT_EQ(HookLines("CreateVectorFont").size(), 1u);

    const std::string stream =
        "M0 10 20; L1 5 -5; C0 1 2 3 4 5 6; S; Z; A 50 60 10 5 0 90 0; B 1 2 3 4 20 20 20 20; T own 20 \"abc\"; "
        "L0 70 80; ";
    GetDrawState()->lineWidth = 4;
    EXPECT_EQ(Run("GetPathExtents", {1.0}), "-1|-16|72|82");
    ASSERT_EQ(HookLines("GetPathExtents").size(), 1u);
    EXPECT_EQ(HookLines("GetPathExtents")[0],
              "GetPathExtents filled=0 width=4 origin=0,0 style=0,0,0,0 dash=0 matrix=1,0,0,1 | " + stream);

    EXPECT_EQ(Run("GetCurrentPoint", {1.0}), "70|80");
    EXPECT_EQ(Run("TranslatePath", {1.0, 1.0, 2.0}), "");
    ASSERT_EQ(HookLines("TranslatePath").size(), 1u);
    EXPECT_EQ(HookLines("TranslatePath")[0], "TranslatePath 1,2 | " + stream);
    EXPECT_EQ(Run("GetCurrentPoint", {1.0}), "71|82");
    EXPECT_EQ(HookLines("GetCurrentPoint").back(),
              "GetCurrentPoint style=0,0,0,0 dash=0 | M0 11 22; L1 5 -5; C0 2 4 4 6 6 8; S; Z; "
              "A 51 62 10 5 0 90 0; B 2 4 3 4 20 20 20 20; T own 20 \"abc\"; L0 71 82; ");

    // The plugin's DrawPath gets the draw record as the renderer hands it.
    qbPath* path = nullptr;
    ASSERT_EQ(GetPath(ObjectID{1, nullptr}, &path), 0);
    const qbVectorLineStyle style{1, 2, 1, 1, 0.5, nullptr, 0};
    const double matrix[4] = {1, 0, 0, 1};
    std::vector<uint8_t> coverage(6 * 3, 0);
    qbDrawPathArgs args{};
    args.commands = path->commands.get();
    args.style = &style;
    args.filled = 1;
    args.strokeWidth = 1;
    args.coverage = coverage.data();
    args.bytesPerRow = 6;
    args.width = 5;
    args.height = 3;
    args.x0 = 1, args.y0 = 2, args.x1 = 3, args.y1 = 4;
    args.matrix = matrix;
    EXPECT_EQ(CallEngineDrawPath(engine, &args), 1);
    const std::string drawn =
        "DrawPath filled=1 width=1 reserved=0 bytesPerRow=6 size=5x3 at=1,2,3,4 style=1,2,1,1 dash=0.5 "
        "matrix=1,0,0,1 | M0 11 22; ";
    EXPECT_EQ(HookLines("DrawPath").back().substr(0, drawn.size()), drawn);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(coverage[y * 6 + x], x < 5 ? 255 : 0) << x << "," << y;

    // Unloading the plugin hands the drawing back and frees its font.
    FreePluginList();
    EXPECT_TRUE(IsInbuiltVectorEngine(ActiveVectorEngine()));
    EXPECT_EQ(Count(Log(), "FreeVectorFont own"), 1);
}

TEST_F(VectorEngineTest, TextAddedUnderTheInbuiltEngineReachesThePluginWithItsOwnHandle) {
    UseVeraFont(12);
    ASSERT_EQ(Run("StartPath", {1.0}), "");
    ASSERT_EQ(Run("AddTextToPath", {1.0, std::string("x")}), "");
    qbPath* path = nullptr;
    ASSERT_EQ(GetPath(ObjectID{1, nullptr}, &path), 0);
    void* face = ReadPathPointer(path->commands.get() + QB_PATH_CODE_SIZE);
    EXPECT_EQ(FindFontByEngineHandle(face), GetTextStyle()->font);

    qbVectorEngine* engine = Load("vecplaced", "vecplaced.qbp");
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->vectorExtension, 1);
    ASSERT_EQ(Run("SetVectorEngine", {std::string("vecplaced.QBP")}), "");
    GetDrawState()->fillStyle = FILLCOLOR;
    EXPECT_EQ(Run("GetPathExtents", {1.0}), "0|-12|6|0");
    EXPECT_EQ(HookLines("GetPathExtents").back(),
              "GetPathExtents filled=1 width=1 origin=0,0 style=0,0,0,0 dash=0 matrix=1,0,0,1 | T own 12 \"x\"; ");
    void* own = ReadPathPointer(path->commands.get() + QB_PATH_CODE_SIZE);
    EXPECT_NE(own, face);
    EXPECT_EQ(FindFontByEngineHandle(own), GetTextStyle()->font);

    // And back: the inbuilt engine measures its own face again.
    ASSERT_EQ(Run("SetVectorEngine", {std::string("Default")}), "");
    EXPECT_NE(Run("GetPathExtents", {1.0}), "0|-12|6|0");
    EXPECT_EQ(ReadPathPointer(path->commands.get() + QB_PATH_CODE_SIZE), face);
}

TEST_F(VectorEngineTest, AFailedChoiceLeavesTheInbuiltEngineServing) {
    Load("vecengine", "vecengine.qbp");
    Load("good", "good.qbp");  // no vector capability
    ASSERT_EQ(Run("StartPath", {1.0}), "");
    ASSERT_EQ(Run("AddBoxToPath", {1.0, 0.0, 0.0, 30.0, 10.0}), "");
    GetDrawState()->fillStyle = FILLCOLOR;
    const std::string inbuilt = Run("GetPathExtents", {1.0});
    EXPECT_EQ(inbuilt, "0|0|30|10");

    ASSERT_EQ(Run("SetVectorEngine", {std::string("vecengine")}), "");
    EXPECT_EQ(Run("SetVectorEngine", {std::string("nosuch")}), Failure(ERR_FINDPLUGIN));
    EXPECT_NE(ErrorText(ERR_FINDPLUGIN).find("nosuch"), std::string::npos) << ErrorText(ERR_FINDPLUGIN);
    EXPECT_TRUE(IsInbuiltVectorEngine(ActiveVectorEngine()));
    EXPECT_EQ(Run("SetVectorEngine", {std::string("good")}), Failure(ERR_FINDPLUGIN));
    EXPECT_EQ(Run("GetPathExtents", {1.0}), inbuilt);
    EXPECT_EQ(Run("TranslatePath", {1.0, 5.0, 0.0}), "");
    EXPECT_EQ(Run("GetPathExtents", {1.0}), "5|0|35|10");
    EXPECT_TRUE(HookLines("GetPathExtents").empty());
    EXPECT_TRUE(HookLines("TranslatePath").empty());

    qbVectorEngine* found = nullptr;
    EXPECT_EQ(FindVectorEngine("DEFAULT", &found), 0);
    EXPECT_TRUE(IsInbuiltVectorEngine(found));
    EXPECT_EQ(FindVectorEngine(std::string(300, 'v').c_str(), &found), ERR_FINDPLUGIN);
    EXPECT_EQ(found, nullptr);
}

TEST_F(VectorEngineTest, AnEngineThisPlatformCannotCallFailsCleanly) {
    qbVectorEngine* engine = Load("vecmarshalled", "vecmarshalled.qbp");
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->callingMode, 2);
    ASSERT_EQ(Run("SetVectorEngine", {std::string("vecmarshalled")}), "");
    UseVeraFont(20);
    ASSERT_EQ(Run("StartPath", {1.0}), "");
    ASSERT_EQ(Run("MoveTo", {1.0, 10.0, 20.0}), "");
    ASSERT_EQ(Run("LineTo", {1.0, 30.0, 40.0}), "");
    EXPECT_EQ(Run("GetPathExtents", {1.0}), "0|0|0|0");
    EXPECT_EQ(Run("GetCurrentPoint", {1.0}), "0|0");
    EXPECT_EQ(Run("TranslatePath", {1.0, 1.0, 1.0}), "");
    qbPath* path = nullptr;
    ASSERT_EQ(GetPath(ObjectID{1, nullptr}, &path), 0);
    const size_t before = path->writeOffset;
    EXPECT_EQ(Run("AddTextToPath", {1.0, std::string("abc")}), Failure(ERR_VFONT));
    EXPECT_EQ(path->writeOffset, before);
    qbDrawPathArgs args{};
    args.commands = path->commands.get();
    EXPECT_EQ(CallEngineDrawPath(engine, &args), 0);
    // Nothing of it ran; the stream was not moved.
    EXPECT_EQ(Count(Log(), "Path"), 0);
    EXPECT_EQ(Count(Log(), "VectorFont"), 0);
    EXPECT_EQ(ReadPathDouble(path->commands.get() + 8), 10);
}

}  // namespace
