#pragma once

namespace sp {

// Information mode: one box listing target products, accepted and upgrade versions.
void ShowPatchInfo();

}  // namespace sp
