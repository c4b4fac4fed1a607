#include "ui/info.h"

#include <algorithm>
#include <string>

#include "package/extract.h"
#include "package/summary.h"
#include "platform/platform.h"
#include "ui/catalog.h"

namespace sp {

// The results of the steps are not examined: whatever could be read is shown, and what could
// not stays empty. The temporary package is left where the extraction put it.
void ShowPatchInfo() {
    std::u16string packagePath;
    ExtractPatchPackage(packagePath);

    std::u16string productCodes;
    ReadTargetProductCodes(packagePath, productCodes);
    std::replace(productCodes.begin(), productCodes.end(), u';', u'\n');

    std::u16string upgradeVersion;
    std::u16string acceptedVersions;
    ReadPatchVersions(packagePath, upgradeVersion, acceptedVersions);

    std::u16string text = u"Products:\n" + productCodes + u"\nTarget:\n\t" + acceptedVersions +
                          u"\nUpgrade:\n\t" + upgradeVersion + u")";
    CurrentPlatform().boxes->Show(text, u"Info", kBoxInfoMode);
}

}  // namespace sp
