// The system-information record: facts about the operating system and the processor, read once.
//
// Several macros (@OSVERSION, @OSBUILD, @OSSERVICEPACK, @PROCESSORARCH, @OSARCH, @SYSTEMDIR) and code paths
// of other subjects read it. It is filled on first use and never refreshed.
#pragma once

#include <cstdint>

#include "core/sstring.h"

namespace tx {

struct SystemInfo {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    SString servicePack;       // trimmed of blanks on both sides
    uint16_t processorArch = 0;  // PROCESSOR_ARCHITECTURE_*: native one under 32-bit emulation
    bool wow64 = false;          // a 32-bit process on a 64-bit system

    // Exactly one of these is set for a known version (none for any other).
    bool is2000 = false, isXP = false, isXPe = false, is2003 = false, isVista = false, is2008 = false,
         is7 = false, is2008R2 = false;
    // "At least" levels, for choosing code paths.
    bool atLeast2000 = false, atLeastXP = false, atLeast2003 = false, atLeastVista = false, atLeast7 = false;

    const char16_t* versionName() const;  // "WIN_7", ... or "UNKNOWN"
    const char16_t* archName() const;     // "X86", "IA64", "X64" or "UNKNOWN"
};

const SystemInfo& systemInfo();

}  // namespace tx
