#pragma once

#include <cstdint>

namespace sp {

// The Windows language ID of the string table that a user of `userLanguage` reads: one of the
// fourteen tables. Every regional variant of a table's language reads that table, and English
// serves every language that has none.
std::uint16_t TableLanguageFor(std::uint16_t userLanguage);

}  // namespace sp
