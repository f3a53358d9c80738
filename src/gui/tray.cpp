// The script's tray icon.
#include "host/hooks.h"

namespace tx {

void trayAdd() {}
void trayRemove() {}

}  // namespace tx
