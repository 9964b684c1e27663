// A misbehaving stand-in for a program of the suite, chosen by the name it is run under: "otgpower"
// runs until it is stopped without looking at any port; "wlanpower" ends with status 1 without a
// word, or, when a file "<itself>.fails" beside it holds a count, fails that many times (saying
// so) and then asks the driver as wlanpower does (power up for "1", down otherwise) and ends as
// its answer says: a flaky program. A file holding "quiet" makes it end with status 0 without a
// word and without asking the driver. Built for the same machine as bringup-check, so that it
// runs wherever the real ones do.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "bringup/wifi_power.h"

int main(int argc, char** argv) {
    const char* name = strrchr(argv[0], '/');
    name = name ? name + 1 : argv[0];
    if (strcmp(name, "otgpower") == 0)
        for (;;) pause();
    std::string counter = std::string(argv[0]) + ".fails";
    FILE* f = fopen(counter.c_str(), "r+");
    if (!f) return 1;
    // "quiet": ends with status 0 without a word and without asking the driver.
    int first = fgetc(f);
    if (first == 'q') return 0;
    ungetc(first, f);
    int left = 0;
    if (fscanf(f, "%d", &left) != 1 || left <= 0) {
        int fd = open(WIFI_POWER_NODE, O_RDWR);
        bool up = argc > 1 && strcmp(argv[1], "1") == 0;
        return fd >= 0 && ioctl(fd, up ? WIFI_POWER_UP : WIFI_POWER_DOWN) == 0 ? 0 : 1;
    }
    rewind(f);
    fprintf(f, "%d\n", left - 1);
    fclose(f);
    printf("stand-in failure, %d to go\n", left);
    return 1;
}
