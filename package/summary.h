#pragma once

#include <string>

#include "platform/types.h"

namespace sp {

// Owns one installer handle and closes it once, if it is not 0.
class ScopedInstallerHandle {
  public:
    explicit ScopedInstallerHandle(InstallerHandle handle = 0) : handle_(handle) {}
    ~ScopedInstallerHandle();
    ScopedInstallerHandle(const ScopedInstallerHandle&) = delete;
    ScopedInstallerHandle& operator=(const ScopedInstallerHandle&) = delete;
    InstallerHandle get() const { return handle_; }

  private:
    InstallerHandle handle_;
};

// The summary information of a package file; 0 when it cannot be opened, with the
// installer's result (or the platform's reason the path could not be made absolute) as the
// last-error value. The readers below fail the same way, and with the installer's result when a
// property cannot be read.
InstallerHandle OpenPatchSummary(std::u16string path);

// The template property: target product codes separated by ';'.
bool ReadTargetProductCodes(std::u16string path, std::u16string& productCodes);

// The keywords property split at its first ';'. Without ';' or with ';' first: false and
// last-error 4316.
bool ReadPatchVersions(std::u16string path, std::u16string& upgradeVersion,
                       std::u16string& acceptedVersions);

}  // namespace sp
