// Recognising the standard requester button sets in a button text.
#include "core/buttons.h"

#include "core/chars.h"

namespace {

struct StandardSet {
    const char* text;
    int type;
};

constexpr StandardSet kStandardSets[] = {
    {"OK", kRequesterOk},
    {"OK|Cancel", kRequesterOkCancel},
    {"Yes|No", kRequesterYesNo},
    {"Yes|No|Cancel", kRequesterYesNoCancel},
};

}  // namespace

void ParseRequesterButtons(char* buttons, int* type) {
    if (!buttons) return;
    for (const StandardSet& set : kStandardSets) {
        if (StrCmpNoCase(buttons, set.text) == 0) {
            if (type) *type = set.type;
            buttons[0] = 0;
            return;
        }
    }
}
