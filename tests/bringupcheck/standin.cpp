// A misbehaving stand-in for a program of the suite, chosen by the name it is run under: "otgpower"
// runs until it is stopped without looking at any port; "wlanpower" ends with status 1 without a
// word. Built for the same machine as bringup-check, so that it runs wherever the real ones do.
#include <string.h>
#include <unistd.h>

int main(int, char** argv) {
    const char* name = strrchr(argv[0], '/');
    name = name ? name + 1 : argv[0];
    if (strcmp(name, "otgpower") == 0)
        for (;;) pause();
    return 1;
}
