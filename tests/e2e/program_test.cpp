// The self-extractor programs themselves: small enough that the archive can
// start in the first 256 KiB, static on Linux, and importing only system DLLs
// on Windows.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr size_t kSizeBudget = 160 * 1024;

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <class T>
T Get(const std::vector<uint8_t>& b, size_t off) {
  T v{};
  if (off + sizeof(T) <= b.size()) std::memcpy(&v, b.data() + off, sizeof(T));
  return v;
}

TEST(LinuxProgram, IsStaticAndWithinBudget) {
  std::vector<uint8_t> elf = ReadAll(TVK_LINUX_SFX);
  if (elf.empty()) GTEST_SKIP() << "no static Linux program built at " << TVK_LINUX_SFX;
  EXPECT_LE(elf.size(), kSizeBudget);
  ASSERT_EQ(0, std::memcmp(elf.data(), "\x7f" "ELF", 4));
  ASSERT_EQ(2, elf[4]) << "64-bit";
  EXPECT_EQ(62, Get<uint16_t>(elf, 18)) << "x86-64";
  // No interpreter and no dynamic section: nothing to load at run time.
  uint64_t phoff = Get<uint64_t>(elf, 32);
  uint16_t phentsize = Get<uint16_t>(elf, 54), phnum = Get<uint16_t>(elf, 56);
  for (uint16_t i = 0; i < phnum; ++i) {
    uint32_t type = Get<uint32_t>(elf, phoff + size_t(i) * phentsize);
    EXPECT_NE(3u, type) << "PT_INTERP present";
    EXPECT_NE(2u, type) << "PT_DYNAMIC present";
  }
}

// Names of the DLLs a PE file imports, read from its import directory.
std::set<std::string> PeImports(const std::vector<uint8_t>& pe, uint16_t* subsystem,
                                uint16_t* machine) {
  std::set<std::string> names;
  uint32_t peOff = Get<uint32_t>(pe, 0x3C);
  *machine = Get<uint16_t>(pe, peOff + 4);
  uint16_t sections = Get<uint16_t>(pe, peOff + 6);
  uint16_t optSize = Get<uint16_t>(pe, peOff + 20);
  size_t opt = peOff + 24;
  *subsystem = Get<uint16_t>(pe, opt + 68);
  uint32_t importRva = Get<uint32_t>(pe, opt + 104);  // PE32 data directory 1
  size_t secTable = opt + optSize;
  auto rvaToOff = [&](uint32_t rva) -> size_t {
    for (uint16_t s = 0; s < sections; ++s) {
      size_t h = secTable + size_t(s) * 40;
      uint32_t va = Get<uint32_t>(pe, h + 12), vsize = Get<uint32_t>(pe, h + 8);
      uint32_t raw = Get<uint32_t>(pe, h + 20);
      if (rva >= va && rva < va + vsize) return raw + (rva - va);
    }
    return 0;
  };
  for (size_t d = rvaToOff(importRva); d && d + 20 <= pe.size(); d += 20) {
    uint32_t nameRva = Get<uint32_t>(pe, d + 12);
    if (!nameRva) break;
    size_t n = rvaToOff(nameRva);
    std::string name;
    while (n < pe.size() && pe[n]) name += char(std::tolower(pe[n++]));
    names.insert(name);
  }
  return names;
}

TEST(WindowsProgram, IsA32BitGuiProgramImportingOnlySystemDlls) {
  std::vector<uint8_t> pe = ReadAll(TVK_WINDOWS_PRODUCT);
  if (pe.empty()) GTEST_SKIP() << "no Windows program built at " << TVK_WINDOWS_PRODUCT;
  EXPECT_LE(pe.size(), kSizeBudget);
  ASSERT_EQ('M', pe[0]);
  ASSERT_EQ('Z', pe[1]);
  uint16_t subsystem = 0, machine = 0;
  std::set<std::string> imports = PeImports(pe, &subsystem, &machine);
  EXPECT_EQ(0x14C, machine) << "i386";
  EXPECT_EQ(2, subsystem) << "GUI subsystem, no console window";
  const std::set<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll",
                                        "advapi32.dll", "comctl32.dll", "ole32.dll", "msvcrt.dll",
                                        "shlwapi.dll", "comdlg32.dll"};
  EXPECT_FALSE(imports.empty());
  for (const std::string& dll : imports) EXPECT_TRUE(system.count(dll)) << dll;
}

}  // namespace
