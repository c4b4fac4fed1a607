// Bench probe: the write limit of extraction, and where an extraction's time goes.
//   write_probe heap PACKAGE OUT [OPTION...]
//                                    reads PACKAGE into memory first (every page touched), then
//                                    times creating OUT and writing those bytes with WriteFile
//   write_probe resource OUT [OPTION...]
//                                    the same from the probe's own MSP resource where it lies in
//                                    the loaded image: --touch reads one byte of every page
//                                    first, --prefetch asks PrefetchVirtualMemory for the range
//                                    first (where the system has it), each timed on its own;
//                                    --chunk BYTES writes in pieces of that size; --through BYTES
//                                    copies each piece into a buffer of that size first and
//                                    writes from there, as a file copy does; --from-file fills
//                                    each piece from the probe's own file as the product does
//                                    (its file opened and checked first, timed on its own);
//                                    --verify reads the file back afterwards and compares it
//                                    with the bytes, as install mode checks the package it holds
// Prints bytes=, lock_us= (finding and locking the bytes), touch_us=, prefetch_us=, open_us=
// (opening and checking the probe's file), write_us= (create, write, close) and verify_us=, in
// microseconds; -1 for a step that failed.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows/image_bytes.h"
#include "tests/support/probes/probe_output.h"

using sp::probes::PrintLine;

namespace {

struct Span {
    const char* data = nullptr;
    DWORD size = 0;
};

class Stopwatch {
  public:
    Stopwatch() { QueryPerformanceCounter(&start_); }
    std::int64_t Microseconds() const {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return (now.QuadPart - start_.QuadPart) * 1000000 / frequency.QuadPart;
    }

  private:
    LARGE_INTEGER start_;
};

bool ReadWhole(const wchar_t* path, std::vector<char>& bytes) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(file, &size) != 0;
    if (ok) bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    ok = ok && ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
         got == bytes.size();
    CloseHandle(file);
    return ok;
}

bool LockOwnPackage(Span& span) {
    HRSRC found = FindResourceW(nullptr, L"IDR_MSP", L"MSP");
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    span.data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    span.size = found ? SizeofResource(nullptr, found) : 0;
    return span.data != nullptr && span.size > 0;
}

std::int64_t TouchPages(const Span& span) {
    Stopwatch clock;
    char sum = 0;
    for (DWORD offset = 0; offset < span.size; offset += 4096) {
        sum = static_cast<char>(sum + *static_cast<const volatile char*>(span.data + offset));
    }
    if (sum == 1) PrintLine("sum", sum);  // keeps the reads
    return clock.Microseconds();
}

using PrefetchFunction = BOOL(WINAPI*)(HANDLE, ULONG_PTR, PWIN32_MEMORY_RANGE_ENTRY, ULONG);

// -1 where the system has no PrefetchVirtualMemory.
std::int64_t Prefetch(const Span& span) {
    auto prefetch = reinterpret_cast<PrefetchFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "PrefetchVirtualMemory")));
    if (prefetch == nullptr) return -1;
    Stopwatch clock;
    WIN32_MEMORY_RANGE_ENTRY range{const_cast<char*>(span.data), span.size};
    prefetch(GetCurrentProcess(), 1, &range, 0);
    return clock.Microseconds();
}

// Creating, writing and closing, as the extraction does; -1 when any step fails. With
// `source`, each piece comes from there.
std::int64_t WriteOut(const wchar_t* path, const Span& span, DWORD chunk, bool through,
                      sp::win32::ImageBytes* source) {
    Stopwatch clock;
    std::vector<char> buffer(through ? chunk : 0);
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    bool ok = true;
    for (DWORD offset = 0; ok && offset < span.size;) {
        DWORD wanted = chunk ? std::min(chunk, span.size - offset) : span.size - offset;
        DWORD done = 0;
        const char* from = span.data + offset;
        if (source != nullptr) {
            source->Copy(offset, buffer.data(), wanted);
            from = buffer.data();
        } else if (through) {
            from = static_cast<const char*>(std::memcpy(buffer.data(), from, wanted));
        }
        ok = WriteFile(file, from, wanted, &done, nullptr) && done == wanted;
        offset += done;
    }
    CloseHandle(file);
    return ok ? clock.Microseconds() : -1;
}

// Reading back in 256 KiB pieces and comparing, as the held package's check does.
std::int64_t Verify(const wchar_t* path, const Span& span) {
    Stopwatch clock;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    std::vector<char> chunk(256 * 1024);
    bool same = true;
    for (DWORD offset = 0; same && offset < span.size;) {
        DWORD got = 0;
        const DWORD wanted = std::min<DWORD>(static_cast<DWORD>(chunk.size()), span.size - offset);
        same = ReadFile(file, chunk.data(), wanted, &got, nullptr) && got > 0 &&
               std::memcmp(chunk.data(), span.data + offset, got) == 0;
        offset += got;
    }
    CloseHandle(file);
    return same ? clock.Microseconds() : -1;
}

int Usage() {
    sp::probes::PrintError(
        "usage: write_probe heap PACKAGE OUT [OPTION...] | write_probe resource OUT [OPTION...]; "
        "options --touch, --prefetch, --chunk BYTES, --through BYTES (--from-file), --verify");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Span span;
    std::vector<char> heap;
    std::int64_t lock = 0, touch = 0, prefetch = 0, open = 0, verify = 0;
    const bool fromHeap = argc >= 4 && std::wcscmp(argv[1], L"heap") == 0;
    if (fromHeap) {
        if (!ReadWhole(argv[2], heap)) return 3;
        span = {heap.data(), static_cast<DWORD>(heap.size())};
    } else if (argc >= 3 && std::wcscmp(argv[1], L"resource") == 0) {
        Stopwatch clock;
        if (!LockOwnPackage(span)) return 3;
        lock = clock.Microseconds();
    } else {
        return Usage();
    }
    const wchar_t* out = argv[fromHeap ? 3 : 2];
    DWORD chunk = 0;
    bool check = false, through = false, fromFile = false;
    for (int i = fromHeap ? 4 : 3; i < argc; ++i) {
        std::uint32_t value = 0;
        if (std::wcscmp(argv[i], L"--touch") == 0) {
            touch = TouchPages(span);
        } else if (std::wcscmp(argv[i], L"--prefetch") == 0) {
            prefetch = Prefetch(span);
        } else if (std::wcscmp(argv[i], L"--from-file") == 0) {
            fromFile = true;
        } else if (std::wcscmp(argv[i], L"--verify") == 0) {
            check = true;
        } else if ((std::wcscmp(argv[i], L"--chunk") == 0 ||
                    std::wcscmp(argv[i], L"--through") == 0) &&
                   i + 1 < argc && sp::probes::ParseNumber(argv[i + 1], value) && value > 0) {
            through = argv[i][2] == L't';
            chunk = value;
            ++i;
        } else {
            return Usage();
        }
    }
    if (fromFile && !through) return Usage();
    std::optional<sp::win32::ImageBytes> file;
    if (fromFile) {
        Stopwatch clock;
        file.emplace(span.data, span.size);
        open = clock.Microseconds();
    }
    const std::int64_t write = WriteOut(out, span, chunk, through, file ? &*file : nullptr);
    if (check) verify = write < 0 ? -1 : Verify(out, span);
    PrintLine("bytes", span.size);
    PrintLine("lock_us", lock);
    PrintLine("touch_us", touch);
    PrintLine("prefetch_us", prefetch);
    PrintLine("open_us", open);
    PrintLine("write_us", write);
    PrintLine("verify_us", verify);
    return write < 0 || verify < 0 ? 1 : 0;
}
