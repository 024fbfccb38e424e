// An ALSA PCM plugin that only prints a warning to standard error when it is opened and then
// refuses, as some installed plugins do past ALSA's error handler. The backend's start-up is
// tested to stay quiet with it in the ALSA configuration.
#include <alsa/asoundlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern "C" {

int _snd_pcm_tessoralnoisy_open(snd_pcm_t**, const char*, snd_config_t*, snd_config_t*, snd_pcm_stream_t, int) {
    const char text[] = "snd_pcm_tessoralnoisy_open: WARNING: printed past the ALSA error handler\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
    return -ENODEV;
}

// The version mark ALSA looks for beside a plugin's open function (what SND_DLSYM_BUILD_VERSION
// writes in a shared build).
__attribute__((visibility("default"))) char __snd_pcm_tessoralnoisy_open_dlsym_pcm_001;
}
