#include "targeting/patch_command.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "ui/format.h"

namespace sp {
namespace {

constexpr std::size_t kCommandLineCapacity = 1024;
constexpr std::uint32_t kLogPathCapacity = 260;

// Inside a quoted property value the installer reads "" as one '"', so a translation of the
// text can never end the value early and add properties of its own.
std::u16string QuotedValue(const std::u16string& text) {
    std::u16string quoted;
    for (char16_t c : text) {
        quoted += c;
        if (c == u'"') quoted += u'"';
    }
    return quoted;
}

// The installer service resolves a relative name against its own folder, not ours.
std::optional<std::u16string> AbsolutePath(const std::u16string& path) {
    std::array<char16_t, kCommandLineCapacity> buffer{};
    Platform& platform = CurrentPlatform();
    const std::uint32_t length = platform.files->GetFullPathName(
        path.c_str(), static_cast<std::uint32_t>(buffer.size()), buffer.data());
    if (length == 0) return std::nullopt;
    if (length >= buffer.size()) {
        platform.thread->SetLastError(kErrorFilenameTooLong);
        return std::nullopt;
    }
    return std::u16string(buffer.data(), length);
}

bool IsForbiddenInFileName(char16_t c) {
    return c < 0x20 || std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos;
}

bool IsDeviceStem(std::u16string_view stem) {
    // Windows strips spaces at the end of a name's first part before it looks for a device.
    while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
    for (std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})
        if (EqualsIgnoringAsciiCase(stem, device)) return true;
    if (stem.size() != 4 || (!EqualsIgnoringAsciiCase(stem.substr(0, 3), u"COM") &&
                             !EqualsIgnoringAsciiCase(stem.substr(0, 3), u"LPT")))
        return false;
    // COM0 to COM9 and LPT0 to LPT9, and with a superscript 1, 2 or 3.
    const char16_t digit = stem[3];
    return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
           digit == u'\u00B3';
}

// A ';' in PATCH would make the installer read it as a list of packages: the short (8.3) name
// has none where the volume keeps short names.
std::optional<std::u16string> PathWithoutSemicolon(const std::u16string& path) {
    if (path.find(u';') == std::u16string::npos) return path;
    auto shortPath = CurrentPlatform().files->GetShortPathName(path);
    if (shortPath && shortPath->find(u';') == std::u16string::npos) return shortPath;
    CurrentPlatform().thread->SetLastError(kErrorInvalidName);
    return std::nullopt;
}

}  // namespace

bool FormatPatchCommandLine(const std::u16string& packagePath, const std::u16string& filesInUseText,
                            std::u16string& commandLine) {
    auto absolute = AbsolutePath(packagePath);
    if (absolute) absolute = PathWithoutSemicolon(*absolute);
    if (!absolute) return false;
    bool truncated = false;
    std::u16string formatted =
        FormatText(u"PATCH=\"%s\" REBOOTPROMPT=S FILESINUSETEXT=\"%s\"",
                   {*absolute, QuotedValue(filesInUseText)}, kCommandLineCapacity, &truncated);
    // A cut command line would name another file or lose its closing quote.
    if (truncated) {
        CurrentPlatform().thread->SetLastError(kErrorFilenameTooLong);
        return false;
    }
    commandLine = std::move(formatted);
    return true;
}

std::u16string LogFileName(const std::u16string& productName) {
    // The name is registry data that an unelevated user can choose, and the log is written with
    // this program's rights: a separator in it must never lead the log out of the directory.
    std::u16string name = productName;
    std::replace_if(name.begin(), name.end(), IsForbiddenInFileName, u'_');
    // Windows drops dots and spaces at the end of a name, which would make "NUL " a device.
    for (auto c = name.rbegin(); c != name.rend() && (*c == u'.' || *c == u' '); ++c) *c = u'_';
    // A device name, with or without an extension, is no file: the log would go nowhere, or to
    // a serial port.
    if (IsDeviceStem(std::u16string_view(name).substr(0, name.find(u'.')))) name = u"_" + name;
    return name;
}

std::optional<std::u16string> InstallerLogPath(const std::u16string& productName) {
    std::array<char16_t, kLogPathCapacity> buffer{};
    const std::uint32_t length =
        CurrentPlatform().files->GetTempPath(kLogPathCapacity, buffer.data());
    if (length == 0 || length > kLogPathCapacity) return std::nullopt;
    const std::u16string directory(buffer.begin(), std::find(buffer.begin(), buffer.end(), u'\0'));
    std::u16string path = directory + LogFileName(productName) + u".log";
    if (path.size() >= kLogPathCapacity) return std::nullopt;
    return path;
}

}  // namespace sp
