// The installed layout, as a board holds it: every program in bin/ and the framework library in
// lib/ are ELF files for the machine this build is for, and each demo's folder has its assets.
#include <gtest/gtest.h>

#include <elf.h>

#include <fstream>
#include <string>
#include <vector>

#include "runprog.h"

namespace {

#if defined(__aarch64__)
const int kMachine = EM_AARCH64;
#elif defined(__x86_64__)
const int kMachine = EM_X86_64;
#else
#error "a build for another machine needs its ELF machine here"
#endif

// The ELF machine of the file, or -1 when it is not a 64-bit little-endian ELF file.
int elfMachine(const std::string& path) {
    Elf64_Ehdr h{};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(&h), sizeof h)) return -1;
    if (std::string(reinterpret_cast<const char*>(h.e_ident), SELFMAG) != ELFMAG ||
        h.e_ident[EI_CLASS] != ELFCLASS64 || h.e_ident[EI_DATA] != ELFDATA2LSB)
        return -1;
    return h.e_machine;
}

std::vector<std::string> programs() {
    std::vector<std::string> p = {"pcmcapture", "otgpower", "otgpoweriddq", "otgpowersave", "wlanpower"};
#ifdef BRINGUP_GL_BUILT
    p.insert(p.end(), {"lanterna", "veilglass", "tilemosaic", "configlist"});
#endif
    return p;
}

TEST(InstalledLayout, ProgramsAndLibraryAreForThisBuildsMachine) {
    EXPECT_EQ(elfMachine("/proc/self/exe"), kMachine);
    for (const std::string& name : programs()) {
        const std::string path = testutil::stage_bin(name);
        EXPECT_EQ(access(path.c_str(), X_OK), 0) << path;
        EXPECT_EQ(elfMachine(path), kMachine) << path;
    }
#ifdef BRINGUP_GL_BUILT
    EXPECT_EQ(elfMachine(testutil::stage_dir() + "/lib/libdemobase.so"), kMachine);
#endif
}

#ifdef BRINGUP_GL_BUILT
TEST(InstalledLayout, EachDemoFolderHoldsItsAssets) {
    const std::string samples = testutil::stage_dir() + "/share/board-bringup/samples/";
    for (const char* file : {"lanterna/assets/Lanterna_texture.vert", "lanterna/assets/good_mip_8.pkm",
                             "veilglass/assets/Veilglass_dualtex.frag", "veilglass/assets/good_compressed_mip_0_alpha.pkm",
                             "tilemosaic/assets/Tilemosaic_atlastex.frag", "tilemosaic/assets/good_atlas_mip_0.pkm"})
        EXPECT_TRUE(testutil::file_exists(samples + file)) << file;
}
#endif

}  // namespace
