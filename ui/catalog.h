#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace sp {

// Message box flags the system uses.
inline constexpr std::uint32_t kBoxError = 0x50010;        // OK, error icon, foreground, topmost
inline constexpr std::uint32_t kBoxInformation = 0x50040;  // OK, information icon
inline constexpr std::uint32_t kBoxRetryCancel = 0x50015;  // Retry/Cancel, error icon
inline constexpr std::uint32_t kBoxInfoMode = 0x50030;     // OK, warning icon
inline constexpr std::int32_t kAnswerCancel = 2;
inline constexpr std::int32_t kAnswerRetry = 4;
inline constexpr std::int32_t kAnswerNo = 7;

// Replaces `destination` with string-table entry `id`; answers the loader's count.
std::int32_t LoadResourceString(ModuleHandle module, std::uint32_t id, std::u16string& destination,
                                std::int32_t capacity);

// Shows catalogued message `id` (or nothing, answering 7, when quiet).
std::int32_t ShowMessage(std::uint32_t id);

}  // namespace sp
