// Requester button texts: the standard sets that the platform draws itself.
#pragma once

// Requester types of the standard button sets.
enum : int {
    kRequesterOkCancel = 0,
    kRequesterYesNo = 1,
    kRequesterYesNoCancel = 2,
    kRequesterOk = 3,
};

// A standard set ("OK", "OK|Cancel", "Yes|No", "Yes|No|Cancel", any case)
// sets *type and clears the text; any other text is left for custom buttons
// and *type stays as it was.
void ParseRequesterButtons(char* buttons, int* type);
