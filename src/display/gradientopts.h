// Filling a gradient record from script options, in the two forms scripts
// write them: the long keys of tables that carry other options too
// ("gradientstyle", "gradientcolors" ...) and the short form of the
// gradient commands (type, colours and angle as arguments, then a table
// with "colors", "border" ...).
#pragma once

#include "imaging/gradient.h"

struct ScriptState;

// A script colour number as its 32 bits: negative numbers keep theirs,
// others clamp to 0..$FFFFFFFF, NaN is 0.
int32_t ColourBits(double value);

// The defaults every parse starts from; the colours are left alone.
void ResetGradientDefaults(qbGradient* gradient);
// The long keys of the option table at argument idx.
int ParseGradientOptions(ScriptState* L, int idx, qbGradient* gradient);
// The short form: the angle at argument idx (types 0 to 2 and 4), the table
// at idx + 1. The caller has set type and colours.
int ParseGradientTable(ScriptState* L, int idx, qbGradient* gradient);
// The centre, balance and border (radial and conical only) and the stop list
// of the table at argument idx, under the given keys. *stopsGiven (when
// given) becomes true when the list held a stop. ERR_WRONGUSAGE for values
// outside 0..1 and a list of one stop, ERR_INTERNAL beyond 64 stops,
// ERR_NUMTABLEARG and ERR_MISSINGPARAMTR for malformed pairs.
int ParseGradientStops(ScriptState* L, int idx, qbGradient* gradient, const char* centerXKey,
                       const char* centerYKey, const char* balanceKey, const char* borderKey,
                       const char* coloursKey, bool* stopsGiven);
