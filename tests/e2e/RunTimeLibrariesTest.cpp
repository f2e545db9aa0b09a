// The libraries that programs load and unload while they run. Thread-local
// storage in one of them outlives it: the leak checker then reads the freed
// storage at exit and crashes.
#include "platform/DynamicLibrary.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace qel::e2e {
namespace {

class RunTimeLibraryTest : public ::testing::TestWithParam<const char*> {};

TEST_P(RunTimeLibraryTest, CarriesNoThreadLocalStorage) {
    const std::string path = platform::DynamicLibrary::ExecutableFolder() + "/" + GetParam();
    std::ifstream file(path, std::ios::binary);
    Elf64_Ehdr header{};
    ASSERT_TRUE(file.read(reinterpret_cast<char*>(&header), sizeof header)) << path;
    ASSERT_EQ(header.e_ident[EI_CLASS], ELFCLASS64);
    ASSERT_EQ(header.e_phentsize, sizeof(Elf64_Phdr));
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment{};
        file.seekg(static_cast<std::streamoff>(header.e_phoff + i * sizeof segment));
        ASSERT_TRUE(file.read(reinterpret_cast<char*>(&segment), sizeof segment));
        EXPECT_NE(segment.p_type, static_cast<Elf64_Word>(PT_TLS)) << "segment " << i;
    }
}

// The engine, the bench it links, and the TIM library.
INSTANTIATE_TEST_SUITE_P(Libraries, RunTimeLibraryTest,
                         ::testing::Values("libTelmar.so", "libqel_bench.so", "libQelTimInfo.so"),
                         [](const auto& p) {
                             std::string name = p.param;
                             for (char& c : name)
                                 if (c == '.')
                                     c = '_';
                             return name;
                         });

}  // namespace
}  // namespace qel::e2e
