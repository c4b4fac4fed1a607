#pragma once

#include <string>

namespace sp {

extern char16_t FirstWatchedExe[512];
extern char16_t SecondWatchedExe[512];

bool IsProcessRunning(const std::u16string& executableName);

// Prompts (Retry/Cancel) while a watched application runs; false when any prompt was cancelled.
bool WaitForBlockingApplications();

}  // namespace sp
