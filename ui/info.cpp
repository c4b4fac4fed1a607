#include "ui/info.h"

namespace sp {

void ShowPatchInfo() {}

}  // namespace sp
