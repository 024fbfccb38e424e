#include "transport/AudioBackend.h"

#include "transport/NullAudioBackend.h"
#include "transport/PortAudioBackend.h"

namespace tessoral {

std::unique_ptr<AudioBackend> AudioBackend::system() {
    auto portAudio = std::make_unique<PortAudioBackend>();
    if (portAudio->hasOutputDevice()) return portAudio;
    portAudio.reset();
    return std::make_unique<NullAudioBackend>(NullAudioBackend::Mode::paced);
}

}  // namespace tessoral
