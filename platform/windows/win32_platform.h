// The Win32 providers of every platform interface. The program and the test probes plug them
// in with UseWin32Platform(); nothing else in the tree includes <windows.h>.
#pragma once

namespace sp::win32 {

// Points CurrentPlatform() at the Win32 providers, which live until the process ends.
void UseWin32Platform();

// From now on every library the process loads, a system library's own dependencies included,
// comes from the system directory only. The program asks for the highest available rights
// and usually runs from a downloads folder, the first place the default search order looks.
// Where the system offers them, links planted by non-administrators are not followed either,
// and no image is loaded from a network share or of low integrity. A system that lacks any of
// this runs the program all the same.
void RestrictLibrarySearch();

}  // namespace sp::win32
