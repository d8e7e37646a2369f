#include "ui/AudioHostFactory.h"

#include "audio/AsioHost.h"
#include "engine/NullHost.h"

#include <cstdlib>
#include <cstring>

namespace varko {

std::unique_ptr<IAudioHost> CreateAudioHost() {
    const char* null = std::getenv("VARKO_NULL_AUDIO");
    if (null != nullptr && std::strcmp(null, "1") == 0) {
        return std::make_unique<TNullHost>();
    }
    return std::make_unique<TASIOHost>();
}

} // namespace varko
