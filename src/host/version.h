// The runtime's version, in one place: @TarvexVersion, the version resources of tarvex3.exe and qx3compile.exe,
// the runtime's manifest (the build reads the four numbers from here) and the release packages' file names
// (scripts/package.sh reads them too) all come from these lines. Change only the numbers; keep each on its own "#define" line.
#pragma once

#define TX_VERSION_MAJOR 3
#define TX_VERSION_MINOR 3
#define TX_VERSION_PATCH 7
#define TX_VERSION_BUILD 8

#define TX_VERSION_STR_(x) #x
#define TX_VERSION_STR(x) TX_VERSION_STR_(x)
// "3.3.7.8": a narrow string literal, usable in resource scripts; u"" TX_VERSION_TEXT gives the UTF-16 one.
#define TX_VERSION_TEXT                                                                                   \
    TX_VERSION_STR(TX_VERSION_MAJOR) "." TX_VERSION_STR(TX_VERSION_MINOR) "." TX_VERSION_STR(TX_VERSION_PATCH) \
    "." TX_VERSION_STR(TX_VERSION_BUILD)
