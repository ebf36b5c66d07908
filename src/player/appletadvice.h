// What the applet named on the command line really is, when the player
// cannot run it: a line to add below the error that says so.
#pragma once

#include <string>

// code: the error that ended start-up; appletPath: the applet as named;
// detail: the error's detail (the path it names). Empty when there is
// nothing to add: another error, another file, or a file of no known kind.
std::string AppletPathAdvice(int code, const char* appletPath, const char* detail);
