// Preferences files: one table per applet, named after its identifier, in
// the user's preferences folder. Shared with start-up, which reads the
// display placements kept there.
#pragma once

struct ScriptState;
struct qbFile;

// Writes the table at idx; the old file is replaced only once the new one
// is complete. ERR_WRONGUSAGE without an identifier.
int WritePrefsFile(ScriptState* L, int idx);
// With fill the pairs go into the table on the stack top, else a new table
// is pushed (an empty one when nothing was saved). A missing file is no
// error.
int ReadPrefsFile(ScriptState* L, bool fill);
// The file's bytes from its start into the table on the stack top.
int ReadPrefsStream(ScriptState* L, qbFile* file);
// Removes the file; a missing one is no error.
int DeletePrefsFile(ScriptState* L);

int cmdSavePrefs(ScriptState* L);
int cmdLoadPrefs(ScriptState* L);
int cmdDeletePrefs(ScriptState* L);
