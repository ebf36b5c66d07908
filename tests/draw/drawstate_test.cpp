// The draw state: defaults, clamps and tables, and the commands that set it,
// called by their global names as a script calls them.
#include <gtest/gtest.h>

#include <cmath>

#include "command_call.h"
#include "core/errcodes.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "draw/draw.h"
#include "vm/vm.h"

namespace {

class DrawLibWorld : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDrawLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetRuntimeTag(kTagRaiseErrors, 1);
    }
    void TearDown() override {
        FreeDrawLibrary(L_);
        VmClose(L_);
    }

    int Run(const char* command, std::initializer_list<double> args) {
        for (double a : args) VmPushNumber(L_, a);
        const int err = CallCommand(L_, command, static_cast<int>(args.size()), 0);
        VmSetTop(L_, 0);
        return err;
    }

    static const qbDrawState& S() { return *GetDrawState(); }

    ScriptState* L_ = nullptr;
};

}  // namespace

TEST(DrawState, DefaultsClampsAndTables) {
    qbDrawState s = DefaultDrawState();
    EXPECT_EQ(s.formStyle, kFormNormal);
    EXPECT_EQ(s.edgeColour, 0x0093DDu);
    EXPECT_EQ(s.gradient.style, 2);
    EXPECT_EQ(s.gradient.startColor, 0x0000FF);
    s.lineWidth = 0;
    s.shadowSize = 100;
    s.edgeSize = 0;
    s.shadowDirection = 9;
    s.fillStyle = 4;
    ClampDrawState(&s);
    EXPECT_EQ(s.lineWidth, 1);
    EXPECT_EQ(s.shadowSize, 64);
    EXPECT_EQ(s.edgeSize, 1);
    EXPECT_EQ(s.shadowDirection, 3u);
    EXPECT_EQ(s.fillStyle, FILLNONE);
    s.shadowDirection = static_cast<uint32_t>(-1);
    ClampDrawState(&s);
    EXPECT_EQ(s.shadowDirection, 3u);
    EXPECT_EQ(DrawSinTable()[90], -1.0);
    EXPECT_EQ(DrawCosTable()[180], -1.0);
    EXPECT_EQ(DrawSinTable()[0], std::sin(2 * 3.14159265358979323846));
}

TEST_F(DrawLibWorld, FormStyles) {
    ASSERT_EQ(Run("SetFormStyle", {kFormShadow, 0xFF0000, 100, 9}), 0);
    EXPECT_EQ(S().shadowSize, 64);
    EXPECT_EQ(S().shadowColour, 0xFF0000u);
    EXPECT_EQ(S().shadowDirection, 3u);
    ASSERT_EQ(Run("SetFormStyle", {kFormShadow, 0x00FF00, 7, 5}), 0);
    ASSERT_EQ(Run("SetFormStyle", {kFormEdge, 0, 0}), 0);
    EXPECT_EQ(S().edgeSize, 1);
    EXPECT_EQ(S().formStyle, kFormNormal | kFormShadow | kFormEdge);
    // NORMAL clears both; SHADOW alone brings back the stored values.
    ASSERT_EQ(Run("SetFormStyle", {kFormNormal}), 0);
    EXPECT_EQ(S().formStyle, kFormNormal);
    ASSERT_EQ(Run("SetFormStyle", {kFormShadow}), 0);
    EXPECT_EQ(S().formStyle, kFormNormal | kFormShadow);
    EXPECT_EQ(S().shadowColour, 0x00FF00u);
    EXPECT_EQ(S().shadowSize, 7);
    EXPECT_EQ(S().shadowDirection, 5u);
    ASSERT_EQ(Run("SetFormStyle", {kFormShadow, 0, 3, -1}), 0);
    EXPECT_EQ(S().shadowDirection, 3u);
    // An edge with a fourth argument only switches the edge on.
    ASSERT_EQ(Run("SetFormStyle", {kFormEdge, 0x123456, 9, 1}), 0);
    EXPECT_EQ(S().edgeSize, 1);
    EXPECT_EQ(S().edgeColour, 0u);
    EXPECT_EQ(Run("SetFormStyle", {kFormAntialias, 1}), ERR_TOOMANYARGS);
    ASSERT_EQ(Run("SetFormStyle", {kFormAntialias}), 0);
    EXPECT_EQ(S().formStyle, kFormNormal | kFormShadow | kFormEdge | kFormAntialias);
}

TEST_F(DrawLibWorld, FillStylesAndLineWidth) {
    ASSERT_EQ(Run("SetLineWidth", {5}), 0);
    EXPECT_EQ(S().lineWidth, 5);
    EXPECT_EQ(Run("SetLineWidth", {0.9}), ERR_WRONGUSAGE);
    EXPECT_EQ(S().lineWidth, 5);
    ASSERT_EQ(Run("SetFillStyle", {FILLNONE}), 0);
    EXPECT_EQ(S().lineWidth, 1);
    ASSERT_EQ(Run("SetFillStyle", {FILLNONE, 0}), 0);
    EXPECT_EQ(S().lineWidth, 1);
    ASSERT_EQ(Run("SetFillStyle", {FILLTEXTURE, 7, 3, 4}), 0);
    EXPECT_EQ(S().fillStyle, FILLTEXTURE);
    EXPECT_EQ(S().texture.number, 7);
    EXPECT_EQ(S().textureY, 4);
    EXPECT_EQ(Run("SetFillStyle", {5}), ERR_WRONGUSAGE);
    EXPECT_EQ(S().fillStyle, FILLNONE);
    ASSERT_EQ(Run("SetFillStyle", {FILLGRADIENT, 3, 0xFF0000, 0x00FF00}), 0);
    EXPECT_EQ(S().fillStyle, FILLGRADIENT);
    EXPECT_EQ(S().gradient.style, 3);
    EXPECT_EQ(S().gradient.endColor, 0x00FF00);
    EXPECT_EQ(Run("SetFillStyle", {FILLGRADIENT, 2, 0}), ERR_MISSINGPARAMTR);
}

TEST_F(DrawLibWorld, GradientTable) {
    VmPushNumber(L_, FILLGRADIENT);
    VmPushNumber(L_, 3);
    VmPushNumber(L_, 0xFF0000);
    VmPushNumber(L_, 0x0000FF);
    VmPushNewTable(L_);
    VmPushString(L_, "centerx");
    VmPushNumber(L_, 0.25);
    VmRawSet(L_, -3);
    ASSERT_EQ(CallCommand(L_, "SetFillStyle", 5, 0), 0);
    EXPECT_EQ(S().gradient.centerX, 0.25);
    // A refused table leaves the gradient as it was.
    VmSetTop(L_, 0);
    VmPushNumber(L_, FILLGRADIENT);
    VmPushNumber(L_, 3);
    VmPushNumber(L_, 0);
    VmPushNumber(L_, 0);
    VmPushNewTable(L_);
    VmPushString(L_, "centerx");
    VmPushNumber(L_, 7);
    VmRawSet(L_, -3);
    EXPECT_EQ(CallCommand(L_, "SetFillStyle", 5, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(S().gradient.centerX, 0.25);
    EXPECT_EQ(S().gradient.startColor, 0xFF0000);
}
