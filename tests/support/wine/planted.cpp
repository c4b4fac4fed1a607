// planted.dll: a DLL planted beside a program under the name of a DLL the program loads. If
// the loader ever maps it, its DllMain leaves a marker file beside it, named after the file it
// was loaded from (shcore.dll.loaded), and refuses to load, so that any use of it fails loudly.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t marker[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameW(instance, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return FALSE;
    lstrcpyW(marker + length, L".loaded");
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return FALSE;
}
