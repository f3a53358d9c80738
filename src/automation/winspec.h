// Window descriptions: how the (title, text) pair of the automation built-ins names top-level windows.
//
// A title is plain text matched by WinTitleMatchMode, a window handle (Ptr), or a bracketed property list
// ("[CLASS:Notepad; INSTANCE:2]", "[REGEXPTITLE:^a.c$]", "[HANDLE:0x1234]", "[LAST]", "[ACTIVE]", "[ALL]").
// The text, when not empty, must be found in the text of one of the window's child windows. One search
// procedure serves every built-in that names a window (the WIN... family here, the control functions, key
// sending); it remembers the last found window, which "[LAST]" and later calls refer to.
//
// Also here: the small window helpers the built-ins share (text of a window, hung test, the pause taken
// after window actions).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/builtins.h"

namespace tx {

class Engine;

// Search results below 0: a bad description (@error is the absolute value).
constexpr int kSpecBadProperty = -1;       // unknown name, or a value given to LAST, ACTIVE or ALL
constexpr int kSpecBadPattern = -2;        // REGEXPTITLE or REGEXPCLASS does not compile
constexpr int kSpecRegexpAfterTitle = -3;  // REGEXPTITLE after TITLE
constexpr int kSpecTitleAfterRegexp = -4;  // TITLE after REGEXPTITLE

// Stores the description the next search uses: the title as passed (String or Ptr) and the text.
void setWindowSpec(const Variant& title, const SString& text);
// The same from a built-in's first two arguments (text "" when absent or Default).
void setWindowSpec(const Args& a);

// Runs the search for the stored description: the number of matching windows (1 when stopAtFirst and
// something matched), 0 for none, or a negative description error. A match becomes the last found window.
int searchWindows(bool stopAtFirst);
// Whether the foreground window is among all the windows that match: 1 or 0, or a negative description
// error (after which @error has been set to its absolute value).
int activeMatch(Engine& e);

const std::vector<HWND>& foundWindows();  // of the last search, in enumeration order
HWND lastFoundWindow();

// Finds the first window that a built-in's (title, text) names. On no match or a bad description it
// stores notFound as the result, sets @error (the description error, or 1 on no match when errorOnNone)
// and returns nullptr.
HWND findTargetWindow(Engine& e, const Args& a, Variant& result, const Variant& notFound, bool errorOnNone);

// Reads the next property of a bracketed list (the text between "[" and "]") from pos: the name (upper
// case) up to ":", ";" or "]", and the value up to a single ";" (";;" stands for one ";"); blanks after it
// are skipped. False when the name is empty, which ends the list. Control descriptions use it too.
bool nextProperty(u16view body, size_t& pos, std::u16string& name, std::u16string& value);

// A window that does not answer a null message within 5 seconds.
bool windowIsHung(HWND h);
// The text of one window as a window-text message reads it ("" for a hung window).
SString windowText(HWND h);
// The pause after window, key and mouse actions: 0 yields once, short pauses spin on the performance
// counter (Sleep is too coarse for them), longer ones sleep.
void automationDelay(int32_t ms);

}  // namespace tx
