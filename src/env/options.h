// The runtime options scripts set with OPT (also TARVEXSETOPTION): their current values, read directly
// by the layers they govern, and the table that names, validates and defaults them.
#pragma once

#include <cstdint>

namespace tx {

struct Options {
    int32_t caretCoordMode = 1;
    uint8_t expandEnvStrings = 0;
    uint8_t expandVarStrings = 0;
    uint8_t guiCloseOnEsc = 1;
    int32_t guiCoordMode = 1;
    char16_t guiDataSeparatorChar = u'|';
    int32_t guiEventOptions = 0;
    uint8_t guiOnEventMode = 0;
    int32_t guiResizeMode = 0;
    int32_t mouseClickDelay = 10;
    int32_t mouseClickDownDelay = 10;
    int32_t mouseClickDragDelay = 250;
    int32_t mouseCoordMode = 1;
    uint8_t mustDeclareVars = 0;
    int32_t pixelCoordMode = 1;
    uint8_t sendAttachMode = 0;
    uint8_t sendCapsLockMode = 1;
    int32_t sendKeyDelay = 5;
    int32_t sendKeyDownDelay = 5;
    uint8_t setExitCode = 0;  // mirrored into RunState::setExitCode for the error reports
    int32_t tcpTimeout = 100;
    uint8_t trayAutoPause = 1;
    uint8_t trayIconDebug = 0;
    uint8_t trayIconHidden = 0;  // TrayIconHide
    int32_t trayMenuMode = 0;    // the bit set last stored
    // The four tray-menu behaviours TrayMenuMode switches off (all on by default).
    uint8_t trayMenuDefaultItems = 1;    // bit 1: the runtime's own pause and exit items
    uint8_t trayMenuAutoCheck = 1;       // bit 2: automatic check of script items
    uint8_t trayMenuDoubleClick = 1;     // bit 4: a double click fires the default item
    uint8_t trayMenuAutoRadio = 1;       // bit 8: automatic radio groups
    uint8_t trayOnEventMode = 0;
    uint8_t winDetectHiddenText = 0;
    uint8_t winSearchChildren = 0;
    int32_t winTextMatchMode = 1;
    int32_t winTitleMatchMode = 1;
    int32_t winWaitDelay = 250;
};

Options& options();

// Called when TrayIconHide changes (installed by the tray layer): hide or show the icon at once.
extern void (*g_trayIconHiddenChanged)(bool hidden);

}  // namespace tx
