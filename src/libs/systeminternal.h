// What the system library's files share among themselves.
#pragma once

struct ScriptState;
struct qbObject;

// The timer list's head, registered with the object lists.
struct qbObjectList;
qbObjectList* TimerListHead();
void FreeAllTimers(ScriptState* L);
void CloseScriptCatalog();
// The folder the next file requester without folder and file opens in is
// forgotten (at shutdown).
void ForgetLastFileFolder();
