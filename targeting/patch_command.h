#pragma once

#include <optional>
#include <string>

namespace sp {

// The installer's property command line for one product: PATCH names the package by its
// absolute path, REBOOTPROMPT=S, FILESINUSETEXT the text the installer shows when files are in
// use. False when it cannot be formed within the installer's 1,024 characters, terminator
// included: the last-error value is then 206, or the platform's when the path cannot be made
// absolute. PATCH names exactly one file: a path with ';' is given by its short name, and where
// that has a ';' too, the result is false with 123 (ERROR_INVALID_NAME).
bool FormatPatchCommandLine(const std::u16string& packagePath, const std::u16string& filesInUseText,
                            std::u16string& commandLine);

// The product's name with every character that a Windows file name cannot hold made '_', as are
// dots and spaces at its end; a device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM and LPT
// with a digit or a superscript 1, 2 or 3; with or without an extension, in any case) gets a
// leading '_'.
std::u16string LogFileName(const std::u16string& productName);

// The temporary directory, LogFileName(productName) and ".log"; nullopt when the directory is
// unknown or the whole path does not fit in 260 characters, terminator included.
std::optional<std::u16string> InstallerLogPath(const std::u16string& productName);

}  // namespace sp
