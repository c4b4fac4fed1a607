// sleeper.exe: a stand-in for an application that keeps running. Copied under the name of a
// watched application, it runs until the file named by its first argument exists (checked
// every 50 ms) or, at the latest, for the number of seconds given second (default 120), so
// that a forgotten copy never outlives a test run for long.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    const wchar_t* stopFile = argc > 1 ? argv[1] : nullptr;
    unsigned long seconds = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 120;
    ULONGLONG deadline = GetTickCount64() + seconds * 1000ULL;
    while (GetTickCount64() < deadline) {
        if (stopFile != nullptr && GetFileAttributesW(stopFile) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(50);
    }
    return 0;
}
