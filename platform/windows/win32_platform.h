// The Win32 providers of every platform interface. The program and the test probes plug them
// in with UseWin32Platform(); nothing else in the tree includes <windows.h>.
#pragma once

namespace sp::win32 {

// Points CurrentPlatform() at the Win32 providers, which live until the process ends.
void UseWin32Platform();

}  // namespace sp::win32
