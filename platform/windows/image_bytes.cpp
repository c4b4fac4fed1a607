#include "platform/windows/image_bytes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "platform/windows/grown_text.h"
#include "platform/windows/system_function.h"

namespace sp::win32 {
namespace {

using AreMappedFilesTheSameFn = LONG(NTAPI*)(PVOID, PVOID);

// Below this the image's sections are not page-aligned in its file, and a loader may read such
// an image whole into memory (Wine does) instead of mapping it: then its bytes are no page
// faults away, and a second mapping of the file (which the check below needs) would read it all
// again.
constexpr DWORD kPageAlignedFile = 4096;
constexpr DWORD kSectorSize = 512;

const IMAGE_NT_HEADERS* Headers(const char* image) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
}

// Where `size` bytes at `data` lie in the image's file: only within the resources, which the
// loader never relocates and nothing writes, and only within a section's bytes from the file.
std::optional<ULONGLONG> ResourceFileOffset(const char* image, const char* data, std::size_t size) {
    const IMAGE_NT_HEADERS* nt = Headers(image);
    if (nt->OptionalHeader.FileAlignment < kPageAlignedFile) return std::nullopt;
    const IMAGE_DATA_DIRECTORY& resources =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
    const auto base = reinterpret_cast<std::uintptr_t>(image);
    const auto address = reinterpret_cast<std::uintptr_t>(data);
    if (address < base) return std::nullopt;
    const ULONGLONG start = address - base;
    const ULONGLONG end = start + size;
    if (start < resources.VirtualAddress || end > resources.VirtualAddress + resources.Size)
        return std::nullopt;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const DWORD virtualSize = section->Misc.VirtualSize;
        const DWORD fromFile = virtualSize == 0 ? section->SizeOfRawData
                                                : std::min(section->SizeOfRawData, virtualSize);
        // A loader maps a section from the sector its file offset lies in: only a whole sector
        // maps byte for byte.
        if (start >= section->VirtualAddress && end <= section->VirtualAddress + fromFile &&
            section->PointerToRawData % kSectorSize == 0)
            return start - section->VirtualAddress + section->PointerToRawData;
    }
    return std::nullopt;
}

std::optional<std::wstring> OwnFileName() {
    return GrownText<std::wstring>([](wchar_t* buffer, DWORD capacity) {
        return ::GetModuleFileNameW(nullptr, buffer, capacity);
    });
}

// A mapping of `file` as an image that is not to run, where the system knows that kind
// (Windows 8 on): mapping it tells no driver of an image load, as a plain image would tell a
// virus scanner, which might read the whole file again. Older systems know only the plain kind.
HANDLE MapAsImage(HANDLE file) {
    for (const DWORD kind : {DWORD{SEC_IMAGE_NO_EXECUTE}, DWORD{SEC_IMAGE}}) {
        HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY | kind, 0, 0, nullptr);
        if (mapping != nullptr) return mapping;
    }
    return nullptr;
}

// Whether `file` is the file `image` was mapped from. Compared as mapped images, the one way
// every system answers it (Wine compares image mappings only).
bool IsImageFile(HANDLE file, const char* image) {
    static const auto same = ExportedFunction<AreMappedFilesTheSameFn>(
        ::GetModuleHandleW(L"ntdll.dll"), "NtAreMappedFilesTheSame");
    if (same == nullptr) return false;
    HANDLE mapping = MapAsImage(file);
    if (mapping == nullptr) return false;
    void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    const bool result = view != nullptr && same(const_cast<char*>(image), view) == 0;
    if (view != nullptr) ::UnmapViewOfFile(view);
    ::CloseHandle(mapping);
    return result;
}

// The program's file, opened by its name once and kept open. Someone may have put another file
// at that name since the program started; that one is never read. Others can still read,
// rename or delete the file meanwhile, but not write it. Execute access is what an image
// mapping of it asks for.
HANDLE OpenImageFile(const char* image) {
    const std::optional<std::wstring> name = OwnFileName();
    if (!name) return INVALID_HANDLE_VALUE;
    HANDLE file = ::CreateFileW(name->c_str(), GENERIC_READ | FILE_EXECUTE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || IsImageFile(file, image)) return file;
    ::CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

HANDLE ImageFile(const char* image) {
    static const HANDLE file = OpenImageFile(image);
    return file;
}

}  // namespace

ImageBytes::ImageBytes(const void* data, std::size_t size) : data_(static_cast<const char*>(data)) {
    const char* image = reinterpret_cast<const char*>(::GetModuleHandleW(nullptr));
    const std::optional<ULONGLONG> offset = ResourceFileOffset(image, data_, size);
    if (!offset) return;
    file_ = ImageFile(image);
    fileOffset_ = *offset;
}

void ImageBytes::Copy(std::size_t offset, void* to, std::size_t size) {
    if (file_ != INVALID_HANDLE_VALUE) {
        // Read on from the file's position, moved only where the pieces do not follow each
        // other: under Wine, a read at a given offset costs a call to its server besides.
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(fileOffset_ + offset);
        DWORD got = 0;
        if ((at.QuadPart == next_ || ::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) &&
            ::ReadFile(file_, to, static_cast<DWORD>(size), &got, nullptr) && got == size) {
            next_ = at.QuadPart + got;
            return;
        }
        next_ = -1;
    }
    std::memcpy(to, data_ + offset, size);
}

}  // namespace sp::win32
