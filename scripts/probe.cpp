// Set-up probe, cross-compiled and run under Wine by scripts/setup.sh: reports the ANSI code page the
// process sees (Wine derives it from LC_ALL) and proves that the 16-bit PCRE2 build links statically,
// JIT-compiles a pattern and matches UTF-16 text with it. Prints one fact per line; exit code 0 when the
// regex checks pass.
#include <windows.h>

#include <cstdio>

#include <pcre2.h>

static bool matchesWithJit() {
    uint32_t jit = 0;
    if (pcre2_config(PCRE2_CONFIG_JIT, &jit) < 0 || !jit) return false;
    const char16_t pattern[] = u"(\\d+)-(\\w+)";
    const char16_t subject[] = u"id 42-abc\u4e2d end";
    int err = 0;
    PCRE2_SIZE errOffset = 0;
    pcre2_code* re = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, PCRE2_UTF | PCRE2_UCP,
                                   &err, &errOffset, nullptr);
    if (!re) return false;
    size_t jitSize = 0;
    bool ok = pcre2_jit_compile(re, PCRE2_JIT_COMPLETE) == 0 &&
              pcre2_pattern_info(re, PCRE2_INFO_JITSIZE, &jitSize) == 0 && jitSize > 0;
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(re, nullptr);
    if (ok && md) {
        // pcre2_match takes the JIT path once the pattern is JIT-compiled. (pcre2_jit_match, the unchecked
        // entry, needs an explicit subject length: it does not accept PCRE2_ZERO_TERMINATED.)
        int rc = pcre2_match(re, reinterpret_cast<PCRE2_SPTR>(subject), sizeof subject / 2 - 1, 0, 0, md, nullptr);
        PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
        // Group 2 must take in the CJK letter: \w with UCP.
        ok = rc == 3 && ov[0] == 3 && ov[1] == 10 && ov[4] == 6 && ov[5] == 10;
    } else {
        ok = false;
    }
    pcre2_match_data_free(md);
    pcre2_code_free(re);
    return ok;
}

int wmain() {
    std::printf("acp %u\n", GetACP());
    std::printf("oemcp %u\n", GetOEMCP());
    bool ok = matchesWithJit();
    std::printf("pcre2 jit %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
