// The few operating-system services the core needs, behind plain functions.
//
// The values, lexer, evaluator and executor call these instead of the Win32 API, so that they also build
// natively (for unit tests and profiling). The Windows build implements them in host/platform_win.cpp;
// the native test build supplies its own versions.
#pragma once

#include <string>

#include "core/sstring.h"

namespace tx::platform {

// Text in the system ANSI code page, without a terminating 0.
std::string toAnsi(u16view s);
SString fromAnsi(const char* s, size_t n);
// The system's upper- and lower-casing of a whole buffer, in place.
void upperCase(char16_t* s, size_t n);
void lowerCase(char16_t* s, size_t n);
// Compares two strings in the user's locale, optionally ignoring case: <0, 0, >0.
int compareLocale(u16view a, u16view b, bool ignoreCase);

// Error report sinks.
SString loadMessage(int id);  // text of a message-table entry ("" when absent)
void showErrorBox(u16view text, u16view caption, bool ownedByMainWindow);
void writeStdout(const char* bytes, size_t n);  // raw bytes to standard output (lost when there is none)


}  // namespace tx::platform
