// The sound output: one audio device that plays mono float samples made by
// a callback on the audio system's own thread.
//
// Open and close on the main thread. Where there is no device, or it fails
// to open, the program goes on silent: nothing is shown or printed, and the
// attempt takes a few milliseconds. The player's choice of driver in
// SDL_AUDIODRIVER is honoured (tests record with "disk").
#pragma once

// Fills `frames` samples in [-1, 1]; runs on the audio thread, so it must
// not block, allocate or wait on the main thread. `context` is the pointer
// given to openAudioOutput.
using AudioFill = void (*)(void* context, float* samples, int frames);

struct AudioFormat {
    int sampleRate = 0;    // samples per second; 0 when no device is open
    int bufferFrames = 0;  // samples the callback fills at a time
};

// Opens the output paused. The callback runs only after startAudioOutput.
AudioFormat openAudioOutput(AudioFill fill, void* context);
void startAudioOutput();
// Stops the callback and closes the device; nothing when none is open.
void closeAudioOutput();
