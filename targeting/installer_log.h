#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "targeting/patch_target.h"

namespace sp {

// The installer's verbose logs of one install run. The temporary directory may be one that
// every user of the machine can write, while the installer writes the log with this program's
// rights: so the log is never written through a name that existed before. Whatever has the
// name is removed first (a link itself, never what it points to), the file is created afresh
// and held until the installer is done with the product, and where any of that fails the
// installer logs without a file.
class InstallerLogs {
  public:
    // Prepares the log of `record` and calls EnableInstallerLog with it, or without a file.
    // The first product of a name gets "<name>.log"; where that name was already given in this
    // run (compared as the file system compares names), or cannot be freed, the product gets
    // "<name> <product code>.log", so that no log overwrites another; where that fails too, no
    // file.
    void Enable(const PatchTarget& record);
    // Lets go of the held log and tells the installer to log to no file.
    void Disable();
    // Lets go of the held log; call when the installer has returned.
    void Release();

  private:
    bool Given(const std::u16string& path) const;
    // Frees `path`, creates the log there and holds it; false where any of that fails.
    bool Hold(const std::u16string& path);

    std::vector<std::u16string> given_;  // log paths given out
    std::unique_ptr<HeldLogFile> held_;
};

}  // namespace sp
