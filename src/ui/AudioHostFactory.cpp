#include "ui/AudioHostFactory.h"

#include "engine/NullHost.h"

#if __has_include("devices/AsioHost.h")
#include "devices/AsioHost.h"
#define VARKO_HAVE_DEVICE_HOST 1
#endif

#include <cstdlib>
#include <cstring>

namespace varko {

std::unique_ptr<IAudioHost> CreateAudioHost() {
    const char* null = std::getenv("VARKO_NULL_AUDIO");
    if (null != nullptr && std::strcmp(null, "1") == 0) {
        return std::make_unique<TNullHost>();
    }
#ifdef VARKO_HAVE_DEVICE_HOST
    return std::make_unique<TASIOHost>();
#else
    return std::make_unique<TNullHost>();
#endif
}

} // namespace varko
