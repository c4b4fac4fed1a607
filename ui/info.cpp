#include "ui/info.h"

#include <algorithm>
#include <string>

#include "launcher/process_state.h"
#include "package/summary.h"
#include "package/temporary_package.h"
#include "platform/platform.h"
#include "ui/catalog.h"

namespace sp {

// Whatever could be read is shown, and what could not stays empty. The temporary package is held
// until the box is closed and then left where the extraction put it.
void ShowPatchInfo() {
    TemporaryPackage package;
    // A file that could not be held as the package may be someone else's by now, and the box
    // would list what that one targets: nothing is read from it then.
    const bool held = ExtractTemporaryPackage(package);

    std::u16string productCodes;
    if (held) ReadTargetProductCodes(package.path, productCodes);
    std::replace(productCodes.begin(), productCodes.end(), u';', u'\n');

    std::u16string upgradeVersion;
    std::u16string acceptedVersions;
    if (held) ReadPatchVersions(package.path, upgradeVersion, acceptedVersions);

    std::u16string text = u"Products:\n" + productCodes + u"\nTarget:\n\t" + acceptedVersions +
                          u"\nUpgrade:\n\t" + upgradeVersion + u")";
    // A box nobody can see would keep the process waiting until it is killed.
    if (BoxesAreSeen) CurrentPlatform().boxes->Show(text, u"Info", kBoxInfoMode);
}

}  // namespace sp
