// Shared by the control built-ins: finding the control a call names (see controls.h for the description
// language), the ClassNN of a control, and memory inside another process for messages whose pointers the
// system does not carry between processes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/builtins.h"

namespace tx {

// Runs the window search for (title, text), stopping at the first match, then finds the control in that
// window. nullptr when the window or the control is not there or the description is bad; no @error is set.
// The control found becomes the last control.
HWND findControl(const Variant& title, const SString& text, const Variant& control);
// The same from a built-in's first three arguments; *window receives the window found (or nullptr).
HWND findControl(const Args& a, HWND* window = nullptr);
HWND lastControl();

// "Edit2": the class name and the control's 1-based number among the window's descendants of that class,
// in enumeration order. Empty when the control is not a descendant of the window.
SString classNNOf(HWND window, HWND control);

// The control's thread input attached to ours for the lifetime of the object (focus and keyboard state
// questions are answered per input queue). Nothing is attached for our own thread.
class AttachedInput {
public:
    explicit AttachedInput(HWND h);
    ~AttachedInput();
    AttachedInput(const AttachedInput&) = delete;
    AttachedInput& operator=(const AttachedInput&) = delete;

private:
    DWORD me_ = 0, other_ = 0;
    bool attached_ = false;
};

// A block of memory allocated inside the process that owns a window, freed when the object goes. Its
// pointer width is the target's, which decides the layout of the structures written into it.
class RemoteMemory {
public:
    RemoteMemory(HWND owner, size_t size);
    ~RemoteMemory();
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    bool ok() const { return address_ != nullptr; }
    size_t size() const { return size_; }
    // The block's address in the target process (zero-extended when the target is wider than we are).
    uint64_t address() const { return reinterpret_cast<uintptr_t>(address_); }
    bool target64() const { return target64_; }
    bool write(size_t offset, const void* data, size_t n);
    bool read(size_t offset, void* data, size_t n) const;

    static int inUse();  // blocks alive now

private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
    size_t size_ = 0;
    bool target64_ = false;
};

}  // namespace tx
