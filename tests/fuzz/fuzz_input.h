// How the fuzz targets read their input, and how they fail.
//
// An input is text, one field per line: every byte is a UTF-16 code unit of the same value,
// except '\n', which ends a field, and 0xFF, which takes the next two bytes (little-endian) as
// one code unit of any value, '\n' and 0xFF included. Seeds can thus be written as ordinary
// text while the fuzzer still reaches every code unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace sp::fuzz {

inline std::vector<std::u16string> DecodeFields(const std::uint8_t* data, std::size_t size) {
    std::vector<std::u16string> fields(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            fields.emplace_back();
        } else if (data[i] == 0xFF && i + 2 < size) {
            fields.back() += static_cast<char16_t>(data[i + 1] | data[i + 2] << 8);
            i += 2;
        } else {
            fields.back() += static_cast<char16_t>(data[i]);
        }
    }
    return fields;
}

// Field `index`, or the empty text when the input has fewer fields.
inline std::u16string Field(const std::vector<std::u16string>& fields, std::size_t index) {
    return index < fields.size() ? fields[index] : std::u16string();
}

// A broken invariant is a crash, so that libFuzzer keeps the input that broke it.
inline void Require(bool holds, const char* invariant) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %s\n", invariant);
    std::abort();
}

}  // namespace sp::fuzz
