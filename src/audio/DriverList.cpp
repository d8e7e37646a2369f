#include "audio/DriverList.h"

#include "audio/RtAudioDriver.h"

namespace varko {

TAsioDriverRecords BuildDriverList() {
    return EnumerateRtAudioDrivers();
}

} // namespace varko
