#pragma once

#include <cstdint>
#include <string>

namespace sp {

// Writes the embedded package to `path`, or, when `path` is empty, to a fresh temporary file
// whose name it leaves in `path`. True when the whole package was written.
bool ExtractPatchPackage(std::u16string& path);

// The process-wide counter of temporary names; tests set it to start afresh. Names are
// numbered 1 to kTemporaryNameLimit; past that no temporary name can be formed.
void SetTemporaryNameCounter(std::uint32_t next);
inline constexpr std::uint32_t kTemporaryNameLimit = 32767;

}  // namespace sp
