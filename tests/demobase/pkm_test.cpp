// The PKM parser on well-formed, truncated and corrupt files.
#include <gtest/gtest.h>

#include <string>

#include "pkm.h"
#include "pkmfiles.h"

namespace {

using KorrinSDK::pkm::Image;
using pkmtest::makePkm;

const char* parse(const std::string& bytes, uint32_t width = 0, uint32_t height = 0, Image* image = nullptr) {
    Image scratch{};
    return KorrinSDK::pkm::parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), width, height,
                                 image != nullptr ? image : &scratch);
}

TEST(PkmParse, AcceptsWellFormedImagesOfEverySizeClass) {
    struct Size { unsigned w, h; uint64_t blocks; };
    for (const Size& s : {Size{1, 1, 1}, Size{4, 4, 1}, Size{5, 3, 2}, Size{256, 256, 4096}, Size{2, 7, 2}}) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        const std::string bytes = makePkm(s.w, s.h);
        Image image{};
        ASSERT_EQ(parse(bytes, 0, 0, &image), nullptr);
        EXPECT_EQ(image.width, s.w);
        EXPECT_EQ(image.height, s.h);
        EXPECT_EQ(image.dataSize, s.blocks * 8);
        EXPECT_EQ(image.data, reinterpret_cast<const uint8_t*>(bytes.data()) + 16);
        EXPECT_EQ(parse(bytes, s.w, s.h), nullptr);
    }
}

TEST(PkmParse, RefusesTruncatedAndOverlongFiles) {
    const std::string good = makePkm(8, 8);
    EXPECT_NE(parse(""), nullptr);
    EXPECT_NE(parse(good.substr(0, 15)), nullptr);          // inside the header
    EXPECT_NE(parse(good.substr(0, 16)), nullptr);          // header only
    EXPECT_NE(parse(good.substr(0, good.size() - 1)), nullptr);  // one byte short
    EXPECT_NE(parse(good + '\0'), nullptr);                 // trailing byte
    EXPECT_NE(KorrinSDK::pkm::parse(nullptr, 100, 0, 0, nullptr), nullptr);
}

TEST(PkmParse, RefusesWrongMagicVersionAndFormat) {
    const std::string good = makePkm(8, 8);
    std::string bytes = good;
    bytes[0] = 'X';
    EXPECT_NE(parse(bytes), nullptr);
    bytes = good;
    bytes[3] = '\0';                                        // "PKM\0"
    EXPECT_NE(parse(bytes), nullptr);
    bytes = good;
    bytes[4] = '2';                                         // version "20" (ETC2)
    EXPECT_NE(parse(bytes), nullptr);
    bytes = good;
    bytes[7] = 1;                                           // format 1
    EXPECT_NE(parse(bytes), nullptr);
    bytes = good;
    bytes[6] = 1;                                           // format 256
    EXPECT_NE(parse(bytes), nullptr);
}

TEST(PkmParse, RefusesInconsistentSizes) {
    std::string bytes = makePkm(8, 8);
    bytes[9] = 12;                                          // padded width 12 for width 8
    EXPECT_NE(parse(bytes), nullptr);
    bytes = makePkm(5, 5);
    bytes[9] = 5;                                           // padded width not rounded up
    EXPECT_NE(parse(bytes), nullptr);
    bytes = makePkm(4, 4);
    bytes[13] = 0;                                          // zero width with padding 4
    bytes[9] = 0;
    EXPECT_NE(parse(bytes), nullptr);
    // A header claiming a bigger image than the blocks that follow.
    bytes = makePkm(8, 8);
    bytes[9] = 16;
    bytes[13] = 16;
    EXPECT_NE(parse(bytes), nullptr);
}

TEST(PkmParse, RefusesALevelOfTheWrongSize) {
    const std::string level = makePkm(16, 8);
    EXPECT_EQ(parse(level, 16, 8), nullptr);
    EXPECT_NE(parse(level, 8, 8), nullptr);
    EXPECT_NE(parse(level, 16, 4), nullptr);
    EXPECT_NE(parse(makePkm(15, 8), 16, 8), nullptr);  // same block count, other size
}

TEST(PkmParse, SizesAreComputedIn64Bits) {
    // 65535 x 65535 needs 16384 * 16384 * 8 = 2 GiB of blocks: more than 32 bits hold signed.
    EXPECT_EQ(KorrinSDK::pkm::etc1DataSize(65535, 65535), 2147483648ull);
    std::string header = makePkm(4, 4).substr(0, 16);
    header[8] = header[10] = '\xff';
    header[9] = header[11] = '\xfc';   // padded 65532
    header[12] = header[14] = '\xff';
    header[13] = header[15] = '\xfc';  // 65532 x 65532
    EXPECT_NE(parse(header + std::string(64, '\0')), nullptr);
}

TEST(PkmParse, LevelDimensionsHalveDownToOne) {
    using KorrinSDK::pkm::levelDimension;
    EXPECT_EQ(levelDimension(256, 0), 256u);
    EXPECT_EQ(levelDimension(256, 3), 32u);
    EXPECT_EQ(levelDimension(256, 8), 1u);
    EXPECT_EQ(levelDimension(256, 9), 1u);
    EXPECT_EQ(levelDimension(5, 1), 2u);
    EXPECT_EQ(levelDimension(5, 2), 1u);
    EXPECT_EQ(levelDimension(65535, 40), 1u);
}

}  // namespace
