// The reference for pcmcapture's CPU cost: the least a reader of the audio device can do. Every
// 8 ms it asks for both positions and reads everything new into one buffer, which it throws away;
// after 10 s it stops. The ratio of pcmcapture's CPU time to this one's is the tool's own overhead
// (double buffer, state machine, file sink) over the device traffic both share.
#include <fcntl.h>
#include <stdint.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "bringup/qvaudio.h"

namespace {

const double kRunSeconds = 10.0;
const unsigned int kStepMicros = 8000;

double now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main() {
    int fd = open(QVAUDIO_NODE, O_RDWR);
    if (fd < 0) return 1;
    ioctl(fd, kCmdOutSetup, 1UL);
    long size = ioctl(fd, kCmdOutSize, 0UL);
    if (size <= 0) return 1;
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    ioctl(fd, kCmdOutSetReadPos, (unsigned long)ioctl(fd, kCmdOutHwPos));
    double end = now() + kRunSeconds;
    while (now() < end) {
        long hw = ioctl(fd, kCmdOutHwPos);
        long rd = ioctl(fd, kCmdOutReadPos);
        if (hw >= 0 && rd >= 0 && hw != rd) {
            long want = hw > rd ? hw - rd : size - rd;
            if (read(fd, buffer.data(), size_t(want)) < 0) return 1;
        }
        usleep(kStepMicros);
    }
    close(fd);
    return 0;
}
