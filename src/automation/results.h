// Result helpers shared by the window and control built-ins: small integer arrays (positions, sizes) and the
// failure that keeps the script running (a value and @error 1).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>

#include "core/engine.h"

namespace tx {

inline Variant intArray(std::initializer_list<int32_t> values) {
    const uint32_t n = static_cast<uint32_t>(values.size());
    ArrayData* arr = ArrayData::create(&n, 1);
    uint32_t i = 0;
    for (int32_t v : values) arr->at(i++) = Variant::int32(v);
    return Variant::array(arr);
}

inline int failWith(Engine& e, Variant& r, Variant value) {
    e.setError(1);
    r = std::move(value);
    return 0;
}

}  // namespace tx
