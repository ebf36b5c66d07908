// InKeyStr fed with key presses posted to the input queue: limits, the
// editing keys, password echo, input types, the cursor afterwards and the
// outputs it refuses.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "core/errcodes.h"
#include "display/output.h"
#include "text/textlayers.h"
#include "text_world.h"

namespace {

constexpr int32_t kBackspace = 271, kEnter = 273, kReturn = 274;

class InKeyStrWorld : public TextWorld {
protected:
    void Keys(std::initializer_list<int32_t> codes) {
        for (int32_t c : codes) {
            ASSERT_EQ(PostEvent(display_, kEventKey, 1, 0, c, nullptr), 1);
            ASSERT_EQ(PostEvent(display_, kEventKey, 0, 0, c, nullptr), 1);  // releases are passed over
        }
    }
    void Keys(const std::string& text) {
        for (char c : text) Keys({static_cast<unsigned char>(c)});
    }
    // InKeyStr(type, maxlen, password): its error, the input in *out.
    int Input(int32_t type, int32_t maxlen, int32_t password, std::string* out) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, type);
        VmPushNumber(L_, maxlen);
        VmPushNumber(L_, password);
        const int err = Run("InKeyStr", 3, 1);
        if (!err) *out = VmToCString(L_, -1);
        VmSetTop(L_, 0);
        return err;
    }
};

TEST_F(InKeyStrWorld, EditingKeysLimitsAndTheCursorAfterTheInput) {
    ASSERT_EQ(RunNumbers("Locate", {40, 30}), 0);
    std::string got;
    // A backspace on nothing does nothing; the fourth letter is ignored.
    Keys({kBackspace});
    Keys("abcd");
    Keys({kBackspace});
    Keys("x");
    Keys({kEnter});
    ASSERT_EQ(Input(0, 3, 0, &got), 0);
    EXPECT_EQ(got, "abx");
    EXPECT_EQ(CursorX(), 40 + Width("abx"));
    EXPECT_EQ(CursorY(), 30);
    EXPECT_GT(Ink(40, 30, 40 + Width("abx"), 30 + Height()), 0);
    EXPECT_EQ(display_->layersEnabled, 0);

    // Enter at once: nothing, and the cursor stays.
    Keys({kReturn});
    ASSERT_EQ(Input(0, 0, 0, &got), 0);
    EXPECT_EQ(got, "");
    EXPECT_EQ(CursorX(), 40 + Width("abx"));
    EXPECT_EQ(CursorY(), 30);
}

TEST_F(InKeyStrWorld, InputTypesPasswordsAndTheBufferLimit) {
    std::string got;
    Keys("a1 b2F");
    Keys({kEnter});
    ASSERT_EQ(Input(3, 0, 0, &got), 0);
    EXPECT_EQ(got, "12");
    Keys("a1 Fg!");
    Keys({kEnter});
    ASSERT_EQ(Input(4, 0, 0, &got), 0);
    EXPECT_EQ(got, "a1F");
    Keys("a1 b!");
    Keys({kEnter});
    ASSERT_EQ(Input(2, 0, 0, &got), 0);
    EXPECT_EQ(got, "a b");

    // The password's echo is stars, the result the typed text; "[" echoes
    // as itself.
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    Keys("p[w");
    Keys({kEnter});
    ASSERT_EQ(Input(0, 0, 1, &got), 0);
    EXPECT_EQ(got, "p[w");
    qbBGPic* picture = GetCurrentBGPic();
    ASSERT_EQ(CountLayers(picture), 1);  // the echoes went, the input stands once
    EXPECT_EQ(TextLayoutOfLayer(GetLayerByIndex(picture, 1))->text, "***");
    Keys("[");
    Keys({kEnter});
    ASSERT_EQ(Input(0, 0, 0, &got), 0);
    EXPECT_EQ(got, "[");
    ASSERT_EQ(CountLayers(picture), 2);
    EXPECT_EQ(TextLayoutOfLayer(GetLayerByIndex(picture, 2))->text, "[");
    EXPECT_EQ(display_->layersEnabled, 1);
    ASSERT_EQ(Run("DisableLayers", 0), 0);

    // A type with no characters of its own takes none.
    Keys("a1 ");
    Keys({kEnter});
    ASSERT_EQ(Input(5, 0, 0, &got), 0);
    EXPECT_EQ(got, "");

    // The type alone: no limit and the typed text itself as the echo.
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    Keys("pqr");
    Keys({kEnter});
    VmPushNumber(L_, 0);
    ASSERT_EQ(Run("InKeyStr", 1, 1), 0);
    EXPECT_STREQ(VmToCString(L_, -1), "pqr");
    VmSetTop(L_, 0);
    picture = GetCurrentBGPic();
    ASSERT_GT(CountLayers(picture), 0);
    EXPECT_EQ(TextLayoutOfLayer(GetLayerByIndex(picture, CountLayers(picture)))->text, "pqr");
    ASSERT_EQ(Run("DisableLayers", 0), 0);

    // 1025 letters: the 1025th ends the input.
    for (int i = 0; i < 1025; ++i) Keys("z");
    ASSERT_EQ(Input(0, 0, 0, &got), 0);
    EXPECT_EQ(got, std::string(1024, 'z'));
    ClearEventQueue(L_);
    ASSERT_EQ(InitEventQueue(), 0);
}

TEST_F(InKeyStrWorld, APumpErrorInMidInputUndoesTheEchoesAndRestoresTheLayerSwitch) {
    // The window's mode switch fails when the pump reaches the toggle,
    // after two typed letters were echoed.
    display_->view.switchMode = [](ScriptState*, qbDisplay*, int) { return int{ERR_MEM}; };
    for (int32_t c : {'a', 'b'}) null_backend::ScriptEvent({display_, kEventKey, 1, 0, c});
    null_backend::ScriptEvent({display_, kEventFullScreenToggle, 0, 0, 0});
    std::string got = "untouched";
    EXPECT_EQ(Input(0, 0, 0, &got), ERR_MEM);
    EXPECT_EQ(got, "untouched");
    EXPECT_EQ(display_->layersEnabled, 0);
    EXPECT_EQ(CountLayers(GetCurrentBGPic()), 0);
    display_->view.switchMode = nullptr;
}

TEST_F(InKeyStrWorld, OutputsOtherThanTheDisplayAreRefused) {
    std::string got;
    auto refusal = [&](auto set) {
        const qbOutputSelection saved = display_->output;
        set();
        const int err = Input(0, 0, 0, &got);
        display_->output = saved;
        display_->softDoubleBuffer = 0;
        display_->refreshBlock = 0;
        return err;
    };
    EXPECT_EQ(refusal([&] {
                  display_->output.type = kOutputBrush;
                  display_->softDoubleBuffer = 1;
              }),
              ERR_ENDDOUBLEBUFFER);
    EXPECT_EQ(refusal([&] {
                  display_->output.type = kOutputBrush;
                  display_->output.selected = kOutputAnim;
              }),
              ERR_SELECTANIM);
    EXPECT_EQ(refusal([&] { display_->output.type = kOutputBrush; }), ERR_SELECTBRUSH);
    EXPECT_EQ(refusal([&] { display_->output.type = kOutputBGPic; }), ERR_SELECTBG);
    EXPECT_EQ(refusal([&] { display_->output.type = kOutputMask; }), ERR_SELECTMASK);
    EXPECT_EQ(refusal([&] { display_->output.type = kOutputAlphaChannel; }), ERR_SELECTALPHACHANNEL);
    EXPECT_EQ(refusal([&] { display_->refreshBlock = 1; }), ERR_BEGINREFRESH);
}

}  // namespace
