// SOUNDPLAY, SOUNDSETWAVEVOLUME, BEEP and CDTRAY: sound output and the CD drive door, through the
// multimedia command strings and the wave-out volume of winmm.
//
// SOUNDPLAY keeps at most one sound open, under the alias "PlayMe"; a new call (an empty file name too)
// closes the one before. CDTRAY opens the drive as a CD audio device for the one door command.
#include <windows.h>
#include <mmsystem.h>

#include <string>

#include "core/engine.h"
#include "gui/dialogs.h"

namespace tx {

namespace {

const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

bool mci(const std::wstring& command, wchar_t* answer = nullptr, UINT answerSize = 0) {
    return mciSendStringW(command.c_str(), answer, answerSize, nullptr) == 0;
}

bool sameText(u16view a, const wchar_t* b) {
    return CompareStringOrdinal(W(a.data()), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

int bi_SOUNDPLAY(Engine&, Args& a, Variant&) {
    const bool wait = a.count() == 2 && a.int32(1) == 1;
    wchar_t mode[64] = L"";
    if (mci(L"status PlayMe mode", mode, 64) || mode[0]) mci(L"close PlayMe");
    const SString& file = a.str(0);
    if (file.empty()) return 0;
    // No file name holds a double quote; one here could only end the quoted name and add commands.
    if (file.view().find(u'"') != u16view::npos) return 0;
    std::wstring open = L"open \"";
    open.append(W(file.c_str()), file.size());
    open += L"\" alias PlayMe";
    if (!mci(open)) return 0;
    if (!wait) {
        mci(L"play PlayMe");
    } else {
        mci(L"play PlayMe wait");
        mci(L"close PlayMe");
    }
    return 0;
}

int bi_SOUNDSETWAVEVOLUME(Engine& e, Args& a, Variant& r) {
    const uint32_t percent = static_cast<uint32_t>(a.int32(0));
    if (percent > 100) {
        e.setError(1);
        r.setInt32(0);
        return 0;
    }
    const DWORD level = percent * 65535u / 100u;
    const MMRESULT rc = waveOutSetVolume(nullptr, level | (level << 16));
    if (rc != MMSYSERR_NOERROR) {  // no wave-out device, or it refused
        e.setError(2);
        e.setExtended(static_cast<int32_t>(rc));
        r.setInt32(0);
    }
    return 0;
}

int bi_BEEP(Engine&, Args& a, Variant&) {
    const int32_t frequency = a.int32Or(0, 500);
    const int32_t duration = a.int32Or(1, 1000);
    // A negative duration would reach the system as an endless beep.
    Beep(static_cast<DWORD>(frequency), duration > 0 ? static_cast<DWORD>(duration) : 0);
    return 0;
}

int bi_CDTRAY(Engine&, Args& a, Variant& r) {
    r.setInt32(0);
    const SString& status = a.str(1);
    const wchar_t* door;
    if (sameText(status, L"open")) door = L"open";
    else if (sameText(status, L"closed") || sameText(status, L"close")) door = L"closed";
    else return 0;

    std::wstring drive(W(a.str(0).c_str()), a.str(0).size());
    std::wstring root = drive;
    if (root.empty() || root.back() != L'\\') root += L'\\';
    if (GetDriveTypeW(root.c_str()) != DRIVE_CDROM) return 0;
    while (!drive.empty() && drive.back() == L'\\') drive.pop_back();

    if (!mci(L"open " + drive + L" type cdaudio alias cd wait")) return 0;
    const bool moved = mci(std::wstring(L"set cd door ") + door + L" wait");
    mci(L"close cd wait");
    if (moved) r.setInt32(1);
    return 0;
}

}  // namespace tx
