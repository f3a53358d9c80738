// GUI events: the event queue, GUIGETMSG, on-event mode and the messages of the script's GUI windows.
#include "gui/gui_events.h"

namespace tx {

bool guiEventsMessage(GuiWindow&, UINT, WPARAM, LPARAM, LRESULT&) { return false; }

}  // namespace tx
