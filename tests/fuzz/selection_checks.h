// What the catalogue-name helpers promise, checked on arbitrary input: the
// fuzz target and its regression cases share these checks, so a crash input
// kept as a test fails for the same reason it failed under the fuzzer.
//
// Input layout (any bytes): fields separated by zero bytes,
//   selector \0 folder \0 key \0 key ...
// The keys (normalised, at most kMaxExtraKeys) join a small fixed index of
// catalogue names chosen to sit around the interesting prefixes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tlfuzz {

constexpr size_t kMaxExtraKeys = 8;

// Empty when every promise held; otherwise a description of the first one
// broken, naming the texts involved.
std::string checkNormalizePath(const std::string& text);
std::string checkSelection(const uint8_t* data, size_t size);

}  // namespace tlfuzz
