// The requester wrappers: the adapter's slot when the requester adapter takes
// the requester, else the scripted answers of a test run, else the platform.
#include "display/requesters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/plugin.h"
#include "display/adapter.h"
#include "display/display.h"
#include "platform/platform.h"
#include "platform/requesterrules.h"
#include "platform/requesterscript.h"

namespace {

// The display counts as having a requester open while one is shown: its
// window then ignores the keys that would switch it to full screen.
class RequesterOpenFlag {
public:
    explicit RequesterOpenFlag(qbDisplay* display) : display_(display) {
        if (display_) ++display_->view.requesterOpen;
    }
    ~RequesterOpenFlag() {
        if (display_) --display_->view.requesterOpen;
    }
    RequesterOpenFlag(const RequesterOpenFlag&) = delete;
    RequesterOpenFlag& operator=(const RequesterOpenFlag&) = delete;

private:
    qbDisplay* display_;
};

// The adapter's slots when it takes the requester of this flag.
const qbDisplayAdapterSlots* AdapterFor(uint32_t flag) {
    const qbDisplayAdapter& a = DisplayAdapter();
    if (!a.requester || !(a.requesterFlags & flag)) return nullptr;
    return a.requester->displaySlots;
}

void* Handle(const qbDisplay* display) { return display ? display->adapterHandle : nullptr; }

intptr_t TextTag(const char* text) { return reinterpret_cast<intptr_t>(text); }

// A tag list that leaves out the tags not wanted; the list ends at tag 0.
class TagList {
public:
    TagList& Add(uint32_t tag, intptr_t value, bool wanted = true) {
        if (wanted) tags_.push_back({tag, value});
        return *this;
    }
    const qbAdapterTag* Tags() {
        tags_.push_back({0, 0});
        return tags_.data();
    }

private:
    std::vector<qbAdapterTag> tags_;
};

// Hands an adapter's answer back to it when the wrapper is done with it.
struct AdapterAnswer {
    const qbDisplayAdapterSlots* slots;
    int kind;
    char* text = nullptr;
    AdapterAnswer(const qbDisplayAdapterSlots* s, int k) : slots(s), kind(k) {}
    ~AdapterAnswer() {
        if (text && slots->FreeRequest) slots->FreeRequest(kind, text);
    }
    AdapterAnswer(const AdapterAnswer&) = delete;
    AdapterAnswer& operator=(const AdapterAnswer&) = delete;
};

bool SameNoCase(const char* a, const std::string& b) { return StrCmpNoCase(a, b.c_str()) == 0; }

std::string Message(int number) {
    const char* text = GetMessageText(number);
    return text ? text : "";
}

bool PatternShowsAll(const char* pattern) {
    return !pattern || !*pattern || std::strcmp(pattern, "*") == 0 || std::strcmp(pattern, "#?") == 0;
}

// The adapter's file answer: one full path, or in multi-select mode a list of
// NUL-ended paths ending with an empty one.
void ReadAdapterFiles(const char* answer, int mode, qbFileRequestResult* out) {
    std::vector<std::string> paths;
    if (answer && *answer) {
        if (mode == kReqMultiSelect) {
            for (const char* p = answer; *p; p += std::strlen(p) + 1) paths.emplace_back(p);
        } else {
            paths.emplace_back(answer);
        }
    }
    FillFileResult(paths, out);
}

// The font weights of the style word's bits 1 ... 0x400 and the slants of
// 0x800 ... 0x2000, the first set bit winning.
constexpr int32_t kStyleWeights[] = {0, 40, 50, 75, 80, 100, 180, 200, 205, 210, 215};
constexpr int32_t kStyleSlants[] = {0, 100, 110};
constexpr int kStyleSlantShift = 11;
constexpr int kStyleFlagShift = 14;

}  // namespace

uint32_t SystemRequesterStyle(const char* buttons, int icon) {
    const std::string ok = Message(MSG_OK), cancel = Message(MSG_CANCEL), yes = Message(MSG_YES),
                      no = Message(MSG_NO);
    uint32_t style = kSystemStyleCustom;
    if (!buttons || !*buttons || SameNoCase(buttons, "OK") || SameNoCase(buttons, ok))
        style = kSystemStyleOk;
    else if (SameNoCase(buttons, "OK|Cancel") || SameNoCase(buttons, ok + "|" + cancel))
        style = kSystemStyleOkCancel;
    else if (SameNoCase(buttons, "Yes|No") || SameNoCase(buttons, yes + "|" + no))
        style = kSystemStyleYesNo;
    else if (SameNoCase(buttons, "Yes|No|Cancel") || SameNoCase(buttons, yes + "|" + no + "|" + cancel))
        style = kSystemStyleYesNoCancel;
    if (icon >= kReqIconNone && icon <= kReqIconQuestion) style |= 32u << icon;
    return style;
}

int ParseAdapterFontResult(const char* text, uint32_t style, qbFontRequest* font) {
    const char* first = text ? std::strchr(text, '|') : nullptr;
    const char* second = first ? std::strchr(first + 1, '|') : nullptr;
    if (!second) return ERR_WRONGUSAGE;
    qbFontRequest record;
    const size_t nameLength = std::min(static_cast<size_t>(first - text), sizeof record.name - 1);
    std::memcpy(record.name, text, nameLength);
    // The number after the second "|" has no place in the record.
    record.size = static_cast<int32_t>(std::strtol(first + 1, nullptr, 10));
    record.weight = 80;
    for (size_t bit = 0; bit < std::size(kStyleWeights); ++bit) {
        if (style & (1u << bit)) {
            record.weight = kStyleWeights[bit];
            break;
        }
    }
    for (size_t bit = 0; bit < std::size(kStyleSlants); ++bit) {
        if (style & (1u << (kStyleSlantShift + bit))) {
            record.slant = kStyleSlants[bit];
            break;
        }
    }
    record.underline = (style >> kStyleFlagShift) & 1;
    record.zero1 = (style >> (kStyleFlagShift + 1)) & 1;
    record.bold = (style >> (kStyleFlagShift + 2)) & 1;
    record.italic = (style >> (kStyleFlagShift + 3)) & 1;
    *font = record;
    return 0;
}

int ShowSystemRequester(ScriptState*, qbDisplay* display, const char* title, const char* body, const char* buttons,
                        int icon, int option, int* result) {
    RequesterOpenFlag open(display);
    if (const qbDisplayAdapterSlots* slots = AdapterFor(kRequesterSystem)) {
        const uint32_t style = SystemRequesterStyle(buttons, icon);
        TagList tags;
        tags.Add(kRequestTagOption, option).Add(kRequestTagSecond, TextTag(buttons), style & kSystemStyleCustom);
        int32_t answer = 0;
        const int err = CallSlot(slots->SystemRequest, Handle(display), title, body, style, &answer, tags.Tags());
        if (result) *result = answer;
        return err;
    }
    int answer = 0;
    const int err = RequesterScriptActive() ? ScriptedSystemRequester(title, body, buttons, icon, &answer)
                                            : SystemRequesterNative(title, body, buttons, icon, &answer);
    if (result) *result = answer;
    return err;
}

int ShowFileRequester(ScriptState*, qbDisplay* display, const char* title, const char* pattern, int mode,
                      const char* defaultPath, const char* defaultFile, int option, qbFileRequestResult* result) {
    RequesterOpenFlag open(display);
    qbFileRequestResult answer;
    int err = 0;
    if (const qbDisplayAdapterSlots* slots = AdapterFor(kRequesterFile)) {
        const int code = mode == kReqMultiSelect ? 1 : mode == kReqSaveMode ? 2 : 0;
        TagList tags;
        tags.Add(kRequestTagOption, option)
            .Add(kRequestTagSecond, TextTag(pattern), !PatternShowsAll(pattern))
            .Add(kRequestTagThird, TextTag(defaultPath ? defaultPath : ""))
            .Add(kRequestTagFourth, TextTag(defaultFile ? defaultFile : ""));
        AdapterAnswer reply(slots, kFreeRequestFile);
        err = CallSlot(slots->FileRequest, Handle(display), title, code, &reply.text, tags.Tags());
        if (!err) {
            try {
                ReadAdapterFiles(reply.text, mode, &answer);
            } catch (const std::bad_alloc&) {
                err = ERR_MEM;
            }
        }
    } else if (RequesterScriptActive()) {
        err = ScriptedFileRequester(title, pattern, mode, &answer);
    } else {
        err = FileRequesterNative(title, pattern, mode, defaultPath, defaultFile, &answer);
    }
    if (result) *result = err ? qbFileRequestResult{} : std::move(answer);
    return err;
}

int ShowPathRequester(ScriptState*, qbDisplay* display, const char* title, int, const char* defaultPath, int option,
                      std::optional<std::string>* path) {
    RequesterOpenFlag open(display);
    std::optional<std::string> answer;
    int err = 0;
    if (const qbDisplayAdapterSlots* slots = AdapterFor(kRequesterPath)) {
        TagList tags;
        tags.Add(kRequestTagOption, option).Add(kRequestTagSecond, TextTag(defaultPath ? defaultPath : ""));
        AdapterAnswer reply(slots, kFreeRequestPath);
        // The adapter's path requester always picks a folder.
        constexpr int kPathMode = 2;
        err = CallSlot(slots->PathRequest, Handle(display), title, kPathMode, &reply.text, tags.Tags());
        if (!err && reply.text) {
            try {
                answer = std::string(reply.text);
            } catch (const std::bad_alloc&) {
                err = ERR_MEM;
            }
        }
    } else if (RequesterScriptActive()) {
        err = ScriptedPathRequester(title, &answer);
    } else {
        err = PathRequesterNative(title, defaultPath, &answer);
    }
    if (path) *path = err ? std::nullopt : std::move(answer);
    return err;
}

int ShowStringRequester(ScriptState*, qbDisplay* display, const char* title, const char* body,
                        const char* defaultText, int type, int maxLength, int password, int option, char* out) {
    RequesterOpenFlag open(display);
    char scratch[kStringResultSize];
    char* text = out ? out : scratch;
    text[0] = 0;
    if (const qbDisplayAdapterSlots* slots = AdapterFor(kRequesterString)) {
        constexpr uint32_t kTypeStyles[] = {0, 1, 2, 4, 8};
        uint32_t style = type >= 1 && type <= 4 ? kTypeStyles[type] : 0;
        if (password) style |= 16;
        TagList tags;
        tags.Add(kRequestTagOption, option)
            .Add(kRequestTagSecond, TextTag(defaultText ? defaultText : ""))
            .Add(kRequestTagThird, maxLength);
        AdapterAnswer reply(slots, kFreeRequestString);
        const int err = CallSlot(slots->StringRequest, Handle(display), title, body, style, &reply.text, tags.Tags());
        if (err) return err;
        if (!reply.text) return ERR_USERABORT;
        CopyStringResult(reply.text, text);
        return 0;
    }
    const int err = RequesterScriptActive()
                        ? ScriptedStringRequester(title, body, text)
                        : StringRequesterNative(title, body, defaultText, type, maxLength, password, text);
    if (err) text[0] = 0;
    return err;
}

int ShowListRequester(ScriptState*, qbDisplay* display, const char* title, const char* body, const char* entries,
                      int selected, int option, int* result) {
    RequesterOpenFlag open(display);
    int answer = -1;
    int err = 0;
    if (const qbDisplayAdapterSlots* slots = AdapterFor(kRequesterList)) {
        TagList tags;
        tags.Add(kRequestTagOption, option).Add(kRequestTagSecond, selected, selected != -1);
        int32_t index = -1;
        err = CallSlot(slots->ListRequest, Handle(display), title, body, entries, 0, &index, tags.Tags());
        answer = index;
    } else if (RequesterScriptActive()) {
        err = ScriptedListRequester(title, body, entries, &answer);
    } else {
        err = ListRequesterNative(title, body, entries, selected, &answer);
    }
    if (result) *result = err ? -1 : answer;
    return err;
}

int ShowFontRequester(ScriptState* L, qbDisplay* display, const char* title, const char* defaultName,
                      int defaultSize, int option, qbFontRequest* font) {
    RequesterOpenFlag open(display);
    qbFontRequest scratch;
    qbFontRequest* record = font ? font : &scratch;
    if (const qbDisplayAdapterSlots* slots = AdapterFor(kRequesterFont)) {
        TagList tags;
        tags.Add(kRequestTagOption, option)
            .Add(kRequestTagSecond, TextTag(defaultName), defaultName && *defaultName)
            .Add(kRequestTagThird, defaultSize, defaultSize != 0);
        AdapterAnswer reply(slots, kFreeRequestFont);
        uint32_t style = 0;
        const int err = CallSlot(slots->FontRequest, Handle(display), title, 0, &reply.text, &style, tags.Tags());
        if (err || !reply.text) return err;
        return ParseAdapterFontResult(reply.text, style, record);
    }
    if (RequesterScriptActive()) return ScriptedFontRequester(title, record);
    std::string name;
    int size = 0;
    FontRequestDefaults(defaultName, defaultSize, &name, &size);
    return FontRequesterNative(L, name.c_str(), size, record);
}

int ShowColorRequester(ScriptState*, qbDisplay* display, const char* title, int32_t initial, int option,
                       int32_t* result) {
    RequesterOpenFlag open(display);
    int32_t answer = -1;
    int err = 0;
    if (const qbDisplayAdapterSlots* slots = AdapterFor(kRequesterColour)) {
        TagList tags;
        tags.Add(kRequestTagOption, option).Add(kRequestTagSecond, initial, initial != -1);
        err = CallSlot(slots->ColorRequest, Handle(display), title, 0, &answer, tags.Tags());
    } else if (RequesterScriptActive()) {
        err = ScriptedColorRequester(title, &answer);
    } else {
        err = ColorRequesterNative(initial, &answer);
    }
    if (result) *result = err ? -1 : answer;
    return err;
}

namespace {

// QB_NO_ERROR_BOX (any value but "0") keeps the error on standard error
// alone; a headless run gets no requester either way.
void ShowErrorInRequester(ScriptState* L, const char* text, int flags) {
    if (const char* off = std::getenv("QB_NO_ERROR_BOX"); off && *off && std::strcmp(off, "0") != 0) return;
    int result = 0;
    ShowSystemRequester(L, nullptr, "QuenbrookPlayer", text, "OK", kReqIconError, flags, &result);
}

}  // namespace

void InstallErrorRequester() { SetErrorRequesterHook(ShowErrorInRequester); }
