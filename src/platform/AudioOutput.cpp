#include "platform/AudioOutput.h"

#include <SDL.h>
#include <dlfcn.h>

#include <fstream>
#include <string>

namespace {

SDL_AudioDeviceID device = 0;
bool audioStarted = false;
AudioFill fillSamples = nullptr;
void* fillContext = nullptr;

// About 11 ms at 48 kHz: the delay of the buffer stays well below what a
// player notices.
constexpr int kBufferFrames = 512;

void SDLCALL deviceCallback(void*, Uint8* stream, int bytes)
{
    fillSamples(fillContext, reinterpret_cast<float*>(stream), bytes / static_cast<int>(sizeof(float)));
}

// ALSA without a card has nothing to offer and, asked anyway, prints a dozen
// lines on stderr.
bool soundCardPresent()
{
    std::ifstream cards("/proc/asound/cards");
    std::string first;
    return std::getline(cards, first) && first.find("no soundcards") == std::string::npos;
}

// ALSA reports through a handler of its own; a quiet one keeps its
// complaints about odd configurations off the player's console. The library
// stays loaded, so that the handler holds when SDL loads it too.
extern "C" void quietAlsaHandler(const char*, int, const char*, int, const char*, ...) {}
void quietenAlsa()
{
    using SetHandler = int (*)(void (*)(const char*, int, const char*, int, const char*, ...));
    void* library = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        return;
    }
    if (auto set = reinterpret_cast<SetHandler>(dlsym(library, "snd_lib_error_set_handler"))) {
        set(quietAlsaHandler);
    }
    dlclose(library);
}

bool openDevice(AudioFormat& format)
{
    SDL_AudioSpec wanted{};
    wanted.freq = 48000;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 1;
    wanted.samples = kBufferFrames;
    wanted.callback = deviceCallback;
    SDL_AudioSpec obtained{};
    device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained,
                                 SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (device == 0) {
        return false;
    }
    format.sampleRate = obtained.freq;
    format.bufferFrames = obtained.samples;
    return true;
}

// Starts the audio subsystem on `driver` (or SDL's own choice when null) and
// opens the device; on failure everything is undone.
bool tryDriver(const char* driver, AudioFormat& format)
{
    if (driver != nullptr) {
        SDL_SetHint(SDL_HINT_AUDIODRIVER, driver);
    }
    bool ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    if (ok) {
        ok = openDevice(format);
        if (!ok) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
    }
    if (driver != nullptr) {
        SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    }
    return ok;
}

} // namespace

AudioFormat openAudioOutput(AudioFill fill, void* context)
{
    closeAudioOutput();
    fillSamples = fill;
    fillContext = context;
    AudioFormat format;
    if (SDL_getenv("SDL_AUDIODRIVER") != nullptr) {
        quietenAlsa();
        audioStarted = tryDriver(nullptr, format);
    } else {
        // A sound server first, so that other programs keep the card; ALSA
        // itself only where a card exists.
        audioStarted = tryDriver("pulseaudio", format) || tryDriver("pipewire", format);
        if (!audioStarted && soundCardPresent()) {
            quietenAlsa();
            audioStarted = tryDriver("alsa", format);
        }
    }
    if (!audioStarted) {
        device = 0;
        return AudioFormat{};
    }
    return format;
}

void startAudioOutput()
{
    if (device != 0) {
        SDL_PauseAudioDevice(device, 0);
    }
}

void closeAudioOutput()
{
    if (device != 0) {
        // Returns once the callback has run for the last time.
        SDL_CloseAudioDevice(device);
        device = 0;
    }
    if (audioStarted) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audioStarted = false;
    }
}
