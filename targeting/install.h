#pragma once

namespace sp {

// Install mode: extract, read, discover, guard, apply, report.
bool InstallPatch();

}  // namespace sp
