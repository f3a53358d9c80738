// Shared by the native fuzz targets (see fuzz_native.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tx {
void setFuzzInput(const uint8_t* data, size_t n);
const std::string& fuzzInput();
void resetForInput();
}  // namespace tx
