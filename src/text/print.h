// Console-style output at the current display's text cursor (Print,
// NPrint) and line input with echo (InKeyStr).
#pragma once

#include <string>

#include "vm/vm.h"

struct qbDisplay;
struct qbTextLayout;

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

// The width a printed line may take between the margins (the right margin
// is the last pixel a line may use); 0 when there is none.
int32_t PrintWrapWidth(int32_t leftMargin, int32_t rightMargin);
// Makes the layout printed text at the display's cursor, with its margins
// and tab stops.
void StartPrintLayout(const qbDisplay& display, qbTextLayout* layout);

int cmdPrint(ScriptState* L);
int cmdNPrint(ScriptState* L);
int cmdInKeyStr(ScriptState* L);
