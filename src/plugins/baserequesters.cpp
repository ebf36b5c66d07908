// Table 5 of the plugin base: the system, file and path requesters as a
// plugin calls them, with every answer copied only into the room the caller
// says its buffer has, and the requester adapter's install.
#include <cstring>
#include <optional>
#include <string>

#include "core/errcodes.h"
#include "core/runstate.h"
#include "display/adapter.h"
#include "display/requesters.h"
#include "plugins/basesystemslots.h"
#include "plugins/basetables.h"

namespace {

static_assert(QBREQUESTER_SYSTEM == kRequesterSystem && QBREQUESTER_COLOUR == kRequesterColour &&
              QBREQUESTER_NOREPLACE == kRequesterNoReplace && QBREQUESTER_SAVE == kReqSaveMode);

const char* Text(const char* text) { return text ? text : ""; }

// 1 when the answer fits with its NUL; otherwise the buffer stays as it was.
int CopyAnswer(const std::string& answer, char* to, size_t size) {
    if (to == nullptr || answer.size() >= size) return 0;
    std::memcpy(to, answer.c_str(), answer.size() + 1);
    return 1;
}

int SystemRequestSlot(const char* title, const char* body, const char* buttons, int32_t icon) {
    if (icon < 0 || icon > 4) icon = 0;
    int choice = 0;
    const int err =
        ShowSystemRequester(GetMainState(), nullptr, Text(title), Text(body), Text(buttons), icon, 0, &choice);
    return err ? -1 : choice;
}

int FileRequestSlot(const char* title, const char* pattern, int32_t mode, char* to, size_t size) {
    if (to == nullptr || size == 0) return 0;
    qbFileRequestResult result;
    const int err = ShowFileRequester(GetMainState(), nullptr, Text(title), Text(pattern),
                                      mode == kReqSaveMode ? kReqSaveMode : kReqNormal, nullptr, nullptr, 0, &result);
    if (err || !result.chosen) return 0;
    return CopyAnswer(result.folder + result.files.c_str(), to, size);
}

int PathRequestSlot(const char* title, char* to, size_t size) {
    if (to == nullptr || size == 0) return 0;
    std::optional<std::string> path;
    if (ShowPathRequester(GetMainState(), nullptr, Text(title), 0, nullptr, 0, &path) != 0 || !path) return 0;
    return CopyAnswer(*path, to, size);
}

int SetRequesterAdapterSlot(qbPluginRecord* plugin, uint32_t flags) {
    qbPlugin* view = PluginViewOf(plugin);
    if (view == nullptr) return ERR_WRONGUSAGE;
    return SetRequesterAdapter(view, flags);
}

}  // namespace

const qbRequesterTable kPluginRequesterTable = {SystemRequestSlot, FileRequestSlot, PathRequestSlot,
                                                SetRequesterAdapterSlot};
