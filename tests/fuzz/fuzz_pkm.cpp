// Fuzz entry for the PKM parser: any bytes, parsed as a first level and as a later level.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pkm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KorrinSDK::pkm::Image image;
    if (KorrinSDK::pkm::parse(data, size, 0, 0, &image) == nullptr) {
        // A parsed image's blocks must lie inside the input; touching them lets the sanitizer check.
        volatile uint8_t sum = 0;
        for (uint64_t i = 0; i < image.dataSize; ++i) sum = static_cast<uint8_t>(sum + image.data[i]);
        (void)sum;
        KorrinSDK::pkm::parse(data, size, KorrinSDK::pkm::levelDimension(image.width, 1),
                              KorrinSDK::pkm::levelDimension(image.height, 1), &image);
    }
    KorrinSDK::pkm::parse(data, size, 1, 1, &image);
    return 0;
}
