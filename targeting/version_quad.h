#pragma once

#include <cstdint>
#include <string>

namespace sp {

struct VersionQuad {
    std::uint16_t parts[4] = {0, 0, 0, 0};
    friend bool operator==(const VersionQuad&, const VersionQuad&) = default;
};

VersionQuad ParseVersionQuad(std::u16string text);

}  // namespace sp
