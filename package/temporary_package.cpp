#include "package/temporary_package.h"

#include <optional>

#include "launcher/process_state.h"
#include "package/extract.h"

namespace sp {

bool ExtractTemporaryPackage(TemporaryPackage& package) {
    package.hold.reset();
    package.path.clear();
    if (!ExtractPatchPackage(package.path)) return false;

    Platform& platform = CurrentPlatform();
    // The file cannot be held while it is still being written (the installer's readers refuse
    // a file that someone has open for writing), so between the two another process could
    // reach it. Whatever it did then shows now: a writer still at work makes the hold fail, a
    // file it removed is missing, and a file it changed or put in its place differs from the
    // package.
    package.hold = platform.files->HoldForReading(package.path);
    if (!package.hold) return false;
    auto resource = platform.resources->LockResource(ModuleInstance, u"MSP", u"IDR_MSP");
    if (!resource) {
        package.hold.reset();
        return false;
    }
    switch (package.hold->Compare(resource->data, resource->size)) {
        case ContentCheck::Same:
            return true;
        case ContentCheck::Different:
            platform.thread->SetLastError(kErrorFileInvalid);
            break;
        case ContentCheck::Unreadable:
            break;
    }
    package.hold.reset();
    return false;
}

void DeleteTemporaryPackage(TemporaryPackage& package) {
    // A held file cannot be deleted, by us neither. Between letting go and deleting, someone
    // could put another file (or a link) at the name: only the file that was held goes.
    std::optional<FileIdentity> identity;
    if (package.hold) identity = package.hold->Identity();
    package.hold.reset();
    if (identity) CurrentPlatform().files->DeleteIfSame(package.path, *identity);
}

}  // namespace sp
