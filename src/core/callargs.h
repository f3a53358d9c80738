// Argument storage of calls, shared by the token-walking call sites and the compiled lines: a buffer that
// keeps up to eight arguments in place (a call allocates nothing), the argument of a user-function call
// (a value or a reference to the caller's variable), and the two halves of a call that follow argument
// evaluation.
#pragma once

#include <new>

#include "core/engine.h"

namespace tx {

// Argument storage for one call: up to eight in place (no allocation), more on the heap.
template <typename T>
class ArgBuffer {
public:
    explicit ArgBuffer(size_t capacity) {
        if (capacity > kInline) {
            heap_ = static_cast<T*>(::operator new(capacity * sizeof(T)));
            data_ = heap_;
        } else {
            data_ = reinterpret_cast<T*>(inline_);
        }
        cap_ = capacity > kInline ? capacity : kInline;
    }
    ~ArgBuffer() {
        for (size_t i = 0; i < n_; ++i) data_[i].~T();
        if (heap_) ::operator delete(heap_);
    }
    ArgBuffer(const ArgBuffer&) = delete;
    ArgBuffer& operator=(const ArgBuffer&) = delete;
    // The caller sized the buffer by counting the commas of the argument list.
    T& push() { return *new (data_ + n_++) T(); }
    bool full() const { return n_ >= cap_; }
    T* data() { return data_; }
    int size() const { return static_cast<int>(n_); }

private:
    static constexpr size_t kInline = 8;
    alignas(T) unsigned char inline_[kInline * sizeof(T)];
    T* data_ = nullptr;
    T* heap_ = nullptr;
    size_t n_ = 0, cap_ = 0;
};

// One argument of a user-function call: a value, or a reference to the caller's variable or element.
struct CallArg {
    Variant value;
    Variant* ref = nullptr;
    StorePin pin;
    bool refConst = false;
};


// Runs user function index with its arguments gathered (the count fits); false after a script error.
bool invokeUser(Engine& e, int index, CallArg* args, int n, Variant& out);

// Calls built-in index with its evaluated arguments (the count fits): resets @error/@extended, flushes
// held output, runs the handler. False after a script error or when the script is stopping.
bool invokeBuiltin(Engine& e, int index, Variant* args, int n, Variant& out);

}  // namespace tx
