// Playing a performance script in real time on an audio device, with the engine on the device
// host exactly as the window drives it.
#pragma once

#include "render/RenderOptions.h"
#include "render/Renderer.h"

#include <cstdio>

namespace varko {

// Prints the audio output devices, one name per line. Returns the exit status.
int ListDevices(std::FILE* out, std::FILE* err);

// Plays the session's script on the device named in the options (the first device when none
// is named) until its end plus two seconds, or for --seconds. Returns the exit status.
int PlayOnDevice(TRenderSession& session, const TRenderOptions& o, std::FILE* out, std::FILE* err);

} // namespace varko
