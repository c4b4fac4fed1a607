#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace sp {

// The temporary package of install and information modes. It lies in the user's temporary
// directory, which the user's own unelevated processes can write, while this program may run
// with the highest available rights; so from its writing until the mode is done with it the
// file is held: others can still read it by name, as the installer does, but cannot change,
// replace or delete it.
struct TemporaryPackage {
    std::u16string path;
    std::unique_ptr<HeldFile> hold;
};

// Writes the package to a fresh temporary file, holds it and makes sure it still holds exactly
// the package. False when any of that fails: the last-error value is the failing call's, or
// 1006 when the file no longer holds the package. `package.path` names the file as the
// extraction left it, also on failure.
bool ExtractTemporaryPackage(TemporaryPackage& package);

// Lets go of the file and deletes it, if the name still names the file that was held.
void DeleteTemporaryPackage(TemporaryPackage& package);

}  // namespace sp
