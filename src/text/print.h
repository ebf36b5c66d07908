// Console-style output at the current display's text cursor (Print,
// NPrint) and line input with echo (InKeyStr).
#pragma once

#include <string>

#include "vm/vm.h"

// How a value becomes text when the script's global "tostring" is not a
// function; the system library's conversion is installed at start-up.
using PrintValueConverter = std::string (*)(ScriptState* L, int idx);
void SetPrintValueConverter(PrintValueConverter convert);
// The value at idx as Print shows it.
std::string PrintValueText(ScriptState* L, int idx);

// Renders text at the cursor as printed text (a PRINT layer when layers are
// on) and moves the cursor after it; raw prints tags literally. 0 or the
// renderer's error.
int PrintText(ScriptState* L, const std::string& text, bool raw);

int cmdPrint(ScriptState* L);
int cmdNPrint(ScriptState* L);
int cmdInKeyStr(ScriptState* L);
