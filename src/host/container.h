// Reading compiled-script containers: finding one inside a file (normally the runtime's own executable,
// or a .qxc file), looking up its entries, and reading or extracting an entry's data.
//
// Every length and size read from the file is checked against the file before it is used: a damaged
// container gives a result code, never a read outside a buffer or an allocation of a made-up size.
#pragma once

#include <cstdint>
#include <vector>

#include "core/sstring.h"
#include "host/container_format.h"
#include "host/file_io.h"

namespace tx {

// Result codes of the container operations (FILEINSTALL reports them in @extended).
namespace cres {
enum : int {
    Ok = 0,
    CannotOpen = 1,     // the file cannot be opened
    NoSignature = 3,    // no container in the file
    BadVersion = 4,     // a container of another format version
    NoEntry = 6,        // no entry of that name
    CopyFailed = 7,     // the destination could not be written (or exists and overwriting was not asked)
    TempFile = 9,       // no temporary file could be made
    BadChecksum = 10,   // the stored data does not match its checksum
    BadStream = 11,     // the compressed data cannot be decompressed
    Damaged = 12,       // truncated entry, impossible lengths or sizes
    NotCompiled = 13,   // extract asked for while the running script is not compiled
};
}

class Container {
public:
    // 0 when the file holds a container of this version; 1, 3 or 4 otherwise (the file is then closed).
    int open(const SString& path);
    // The data of an entry (decompressed when stored compressed).
    int read(u16view name, std::vector<uint8_t>& data);
    // Writes an entry's data to dest (through a temporary file) and gives it the entry's file times.
    int extract(u16view name, const SString& dest, bool overwrite);

private:
    struct Entry {
        bool compressed = false;
        uint32_t storedSize = 0;
        uint32_t originalSize = 0;
        uint32_t checksum = 0;
        qx::FileTimes times;
        uint64_t dataPos = 0;
    };
    int find(u16view name, Entry& e);

    fio::File file_;
    uint64_t size_ = 0;
    uint64_t firstEntry_ = 0;
};

// Whether the file is a container holding the entry (its data is not read).
bool containerHasEntry(const SString& path, u16view name);

// The container the running compiled script came from ("" for a text script); set by the loader.
void setRunningContainer(const SString& path);

// FILEINSTALL's extraction: writes the entry called name of the running script's container to destPath.
// Returns 0 on success or a cres code.
int extractContainerEntry(u16view name, const SString& destPath, bool overwrite);

}  // namespace tx
