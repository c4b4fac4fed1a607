#include "platform/platform.h"

namespace sp {

Platform& CurrentPlatform() {
    static Platform platform;
    return platform;
}

}  // namespace sp
