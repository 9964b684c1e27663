// pcmcapture: captures ten seconds of what the audio driver plays out into "output.pcm".
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include "capture.h"
#include "messages.h"

namespace {

const char kOutputPath[] = "output.pcm";
const unsigned int kRunSeconds = 10;

using pcmlog::kMsgFinish;
using pcmlog::kMsgStart;
using pcmlog::kMsgWrite;

// Null when "output.pcm" could not be opened; the sink then drops every block.
FILE* outputFile = nullptr;

// The sink: appends one block to the output file.
int32_t writeToFile(const uint8_t* data, uint32_t length) {
    if (!outputFile) return 0;
    logFormat('D', kMsgWrite, uint32_t(uintptr_t(data)), length);
    return int32_t(fwrite(data, length, 1, outputFile));
}

int32_t audioCaptureStart(AudioSink sink) {
    logLine('I', kMsgStart);
    if (qvAudio_Start(sink) != 0) {
        qvAudio_Stop();
        return -1;
    }
    return 0;
}

int32_t audioCaptureFinish() {
    qvAudio_Stop();
    logLine('I', kMsgFinish);
    return 0;
}

}  // namespace

int main() {
    outputFile = fopen(kOutputPath, "wb");
    audioCaptureStart(writeToFile);
    sleep(kRunSeconds);
    audioCaptureFinish();
    if (outputFile) fclose(outputFile);
    return 0;
}
