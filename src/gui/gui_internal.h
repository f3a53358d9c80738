// Helpers shared by the GUI files of windows and controls (not used outside src/gui).
#pragma once

#include "gui/gui.h"

namespace tx {

inline const wchar_t* wzs(const SString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// gui.cpp
void guiLeaveInitialLayout(GuiWindow& w);
void guiWindowGone(GuiWindow& w);  // the window was destroyed: free its controls and record

// gui_controls.cpp
void guiReleaseControl(GuiControl& c);  // releases what the control made (not its slot)
void guiDeleteControl(GuiControl& c);   // destroys the control and empties its slot
HFONT guiMakeFont(int32_t size10, int32_t weight, int32_t attr, const SString& name, int32_t quality);
bool guiWindowFontIsDefault(const GuiWindow& w);
void guiComputeReference(GuiControl& c, GuiWindow& w);
bool guiTakesDocking(CtrlKind k);
int guiListViewItemIndex(const GuiControl& item);  // -1 when gone

// gui_window.cpp
void guiDockControls(GuiWindow& w, int width, int height);
void guiSubclassGraphic(HWND h);
LRESULT guiOwnerDrawButton(GuiControl& c, const DRAWITEMSTRUCT& d);

// gui_data.cpp
bool guiSetColour(GuiControl& c, int32_t scriptColour, bool background);
bool guiParseDate(const SString& text, bool timeOnly, SYSTEMTIME& st);
void guiApplyState(GuiControl& c, uint32_t state);

}  // namespace tx
