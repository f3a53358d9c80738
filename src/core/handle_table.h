// Handle tables: the numbered handles that scripts hold for open files, searches, DLLs and the like.
//
// A table is a growable array of slots, each empty or owning one entry. A new entry takes the first empty
// slot (the table grows when none is free; there is no fixed limit), and the handle given to the script is
// the slot index + 1, so handle 0 is never valid and a closed handle's number is reused by the next open.
// Entries are owned through unique_ptr: removing one (or clearing the table at the end of the run)
// destroys it, and the entry type's destructor releases whatever system resource it holds.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace tx {

template <class T>
class HandleTable {
public:
    // Stores the entry and returns its handle (slot index + 1).
    int64_t add(std::unique_ptr<T> entry) {
        for (size_t i = 0; i < slots_.size(); ++i) {
            if (!slots_[i]) {
                slots_[i] = std::move(entry);
                return static_cast<int64_t>(i) + 1;
            }
        }
        slots_.push_back(std::move(entry));
        return static_cast<int64_t>(slots_.size());
    }

    // The entry of a handle, or nullptr when the handle is out of range or its slot is empty.
    T* get(int64_t handle) const {
        if (handle < 1 || static_cast<uint64_t>(handle) > slots_.size()) return nullptr;
        return slots_[static_cast<size_t>(handle - 1)].get();
    }

    // Takes the entry out of its slot, leaving the slot free for reuse; nullptr for an invalid handle.
    std::unique_ptr<T> remove(int64_t handle) {
        if (!get(handle)) return nullptr;
        return std::move(slots_[static_cast<size_t>(handle - 1)]);
    }

    // Calls f(handle, entry) for every occupied slot in handle order.
    template <class F>
    void forEach(F&& f) const {
        for (size_t i = 0; i < slots_.size(); ++i)
            if (slots_[i]) f(static_cast<int64_t>(i) + 1, *slots_[i]);
    }

    // Destroys every entry (last handle first) and empties the table.
    void clear() {
        while (!slots_.empty()) slots_.pop_back();
    }

    size_t slotCount() const { return slots_.size(); }

private:
    std::vector<std::unique_ptr<T>> slots_;
};

}  // namespace tx
