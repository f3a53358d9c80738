// Fuzz target: compiled scripts. The first byte picks what the rest is: a container file (signature search,
// entry look-up, checksum, decompression, then the token stream of the script entry), a bare token stream,
// or a bare compressed stream (its expected size in the first four bytes).
#include <vector>

#include "fuzz_native.h"
#include "host/container.h"
#include "host/container_format.h"
#include "host/token_stream.h"

using namespace tx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;
    resetForInput();
    std::vector<TokenLine> lines;
    std::vector<SString> directives;
    std::vector<uint8_t> out;
    if (mode == 0) {
        setFuzzInput(data, size);
        Container c;
        if (c.open(SString(u"C:\\fuzz.qxc")) == cres::Ok && c.read(qx::kScriptEntry, out) == cres::Ok)
            decodeTokenStream(out.data(), out.size(), lines, directives);
        c.read(qx::kNoCmdExecuteEntry, out);
    } else if (mode == 1) {
        decodeTokenStream(data, size, lines, directives);
    } else if (size >= 4) {
        // At most 1 MiB of output, so that a size field alone cannot ask for gigabytes.
        qx::decompress(data + 4, size - 4, out, qx::getLE32(data) & 0xFFFFF);
    }
    return 0;
}
