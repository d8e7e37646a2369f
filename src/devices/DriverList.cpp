#include "devices/DriverList.h"

#include "devices/drivers/RtAudioDriver.h"

namespace varko {

TAsioDriverRecords BuildDriverList() {
    return EnumerateRtAudioDrivers();
}

} // namespace varko
