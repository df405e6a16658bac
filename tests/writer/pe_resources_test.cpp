// The resource writer on programs made here by hand and on the real Windows
// self-extractors; objdump and wrestool read the results back where the
// machine has them.
// tvk, which rewrites the programs, runs on Linux, and these tests call
// Linux tools to read its output back.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "writer/pe_resources.h"
#include "writer/program_resources.h"

namespace tvk::pe {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kRsrcRva = 0x1000;
constexpr uint32_t kFileAlign = 0x200;

Bytes ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& p, const Bytes& b) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::string Capture(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int rc = pclose(p);
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The checksum summed the other common way, a dword at a time, so that a
// slip in the writer's word loop does not pass unseen.
uint32_t ChecksumByDwords(Bytes f, size_t at) {
  StoreU32(&f[at], 0);
  const size_t length = f.size();
  f.resize((f.size() + 3) & ~size_t(3));
  uint64_t sum = 0;
  for (size_t i = 0; i < f.size(); i += 4) {
    sum += LoadU32(&f[i]);
    if (sum > 0xFFFFFFFFu) sum = (sum & 0xFFFFFFFFu) + (sum >> 32);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = (sum + (sum >> 16)) & 0xFFFF;
  return static_cast<uint32_t>(sum + length);
}

Resource Res(uint16_t type, ResKey name, uint16_t lang, Bytes bytes) {
  return Resource{ResKey::Id(type), std::move(name), lang, 0, std::move(bytes)};
}

// A PE32 program of headers, the resource section and, when asked, the
// base relocations behind it; no code, never run.
Bytes HandMadeProgram(const std::vector<Resource>& tree, bool withReloc) {
  Bytes f(kFileAlign, 0);
  f[0] = 'M';
  f[1] = 'Z';
  StoreU32(&f[0x3c], 0x40);
  StoreU32(&f[0x40], 0x4550);
  StoreU16(&f[0x44], 0x14c);
  const uint16_t sections = withReloc ? 2 : 1;
  StoreU16(&f[0x46], sections);
  StoreU16(&f[0x54], 224);
  const size_t opt = 0x58;
  StoreU16(&f[opt], 0x10b);
  StoreU32(&f[opt + 32], 0x1000);
  StoreU32(&f[opt + 36], kFileAlign);
  StoreU32(&f[opt + 60], kFileAlign);
  StoreU32(&f[opt + 92], 16);
  const Bytes body = BuildResourceSection(tree, kRsrcRva);
  const uint32_t raw = static_cast<uint32_t>((body.size() + kFileAlign - 1) / kFileAlign * kFileAlign);
  StoreU32(&f[opt + 96 + 16], kRsrcRva);
  StoreU32(&f[opt + 96 + 20], static_cast<uint32_t>(body.size()));
  const size_t s = opt + 224;
  std::copy_n(".rsrc", 5, &f[s]);
  StoreU32(&f[s + 8], static_cast<uint32_t>(body.size()));
  StoreU32(&f[s + 12], kRsrcRva);
  StoreU32(&f[s + 16], raw);
  StoreU32(&f[s + 20], kFileAlign);
  StoreU32(&f[s + 36], 0x40000040);
  f.insert(f.end(), body.begin(), body.end());
  f.resize(kFileAlign + raw);
  uint32_t end = kRsrcRva + static_cast<uint32_t>(body.size());
  if (withReloc) {
    const uint32_t rva = (end + 0xFFF) & ~0xFFFu;
    std::copy_n(".reloc", 6, &f[s + 40]);
    StoreU32(&f[s + 48], 12);
    StoreU32(&f[s + 52], rva);
    StoreU32(&f[s + 56], kFileAlign);
    StoreU32(&f[s + 60], static_cast<uint32_t>(f.size()));
    StoreU32(&f[opt + 96 + 40], rva);
    StoreU32(&f[opt + 96 + 44], 12);
    const size_t at = f.size();
    f.resize(at + kFileAlign);
    StoreU32(&f[at], 0x2000);  // a block for the page at 0x2000: its own address is not among them
    StoreU32(&f[at + 4], 12);
    StoreU16(&f[at + 8], 0x3004);
    end = rva + 12;
  }
  StoreU32(&f[opt + 56], (end + 0xFFF) & ~0xFFFu);
  return f;
}

std::vector<Resource> SmallTree() {
  return {Res(kTypeManifest, ResKey::Id(1), 0x409, Bytes{'<', 'a', '/', '>'}),
          Res(10, ResKey{0, u"ZETA"}, 0x407, Bytes(13, 0x5a)),
          Res(10, ResKey{0, u"ALPHA"}, 0x409, Bytes(3, 0xa1)),
          Res(10, ResKey::Id(7), 0x409, Bytes(1, 7)),
          Res(10, ResKey::Id(7), 0x407, Bytes(2, 7)),
          Resource{ResKey{0, u"OWNTYPE"}, ResKey::Id(1), 0, 0, Bytes(9, 0x33)}};
}

std::vector<Resource> Sorted(std::vector<Resource> t) {
  std::stable_sort(t.begin(), t.end(), [](const Resource& a, const Resource& b) {
    if (!(a.type == b.type)) return KeyBefore(a.type, b.type);
    if (!(a.name == b.name)) return KeyBefore(a.name, b.name);
    return a.language < b.language;
  });
  return t;
}

void ExpectSameTree(const std::vector<Resource>& a, const std::vector<Resource>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_TRUE(a[i].type == b[i].type) << i;
    EXPECT_TRUE(a[i].name == b[i].name) << i;
    EXPECT_EQ(a[i].language, b[i].language) << i;
    EXPECT_EQ(a[i].codepage, b[i].codepage) << i;
    EXPECT_TRUE(a[i].bytes == b[i].bytes) << i;
  }
}

TEST(PeResources, DirectoryOrderAndRoundTrip) {
  const Bytes f = HandMadeProgram(SmallTree(), false);
  // The root by hand: one named type (OWNTYPE) before the ids 10 and 24.
  const uint8_t* root = &f[kFileAlign];
  EXPECT_EQ(1, LoadU16(root + 12));
  EXPECT_EQ(2, LoadU16(root + 14));
  EXPECT_NE(0u, LoadU32(root + 16) & 0x80000000u);
  EXPECT_EQ(10u, LoadU32(root + 24));
  EXPECT_EQ(24u, LoadU32(root + 32));
  std::vector<Resource> tree;
  std::string error;
  ASSERT_TRUE(ReadResources(f, &tree, &error)) << error;
  const std::vector<Resource> want = Sorted(SmallTree());
  ExpectSameTree(want, tree);
  EXPECT_EQ(u"ALPHA", tree[1].name.name);  // named before numbered, in order
  EXPECT_EQ(u"ZETA", tree[2].name.name);
}

TEST(PeResources, GrowsTheLastSectionAndKeepsHeadersTrue) {
  for (bool reloc : {false, true}) {
    SCOPED_TRACE(reloc ? "with relocations behind" : "last section");
    Bytes f = HandMadeProgram(SmallTree(), reloc);
    std::vector<Resource> tree;
    std::string error;
    ASSERT_TRUE(ReadResources(f, &tree, &error)) << error;
    tree.push_back(Res(kTypeIcon, ResKey::Id(300), 0, Bytes(5000, 0x42)));
    ASSERT_TRUE(WriteResources(&f, tree, &error)) << error;
    PeLayout l;
    ASSERT_TRUE(ParsePe(f, &l, &error)) << error;
    const uint32_t size = LoadU32(&f[l.dataDirAt + 20]);
    EXPECT_EQ(size, LoadU32(&f[l.sectionsAt + 8]));
    EXPECT_EQ(0u, LoadU32(&f[l.sectionsAt + 16]) % kFileAlign);
    EXPECT_GE(LoadU32(&f[l.sectionsAt + 16]), size);
    uint32_t imageEnd = kRsrcRva + size;
    if (reloc) {
      const uint32_t rva = LoadU32(&f[l.sectionsAt + 52]);
      EXPECT_EQ(rva, LoadU32(&f[l.dataDirAt + 40]));
      EXPECT_EQ(0u, rva % 0x1000);
      EXPECT_GE(rva, kRsrcRva + size);
      const uint32_t at = LoadU32(&f[l.sectionsAt + 60]);
      EXPECT_EQ(0x2000u, LoadU32(&f[at]));  // the block moved whole
      imageEnd = rva + 12;
    }
    EXPECT_EQ((imageEnd + 0xFFF) & ~0xFFFu, LoadU32(&f[l.checksumAt - 64 + 56]));
    EXPECT_EQ(ChecksumByDwords(f, l.checksumAt), LoadU32(&f[l.checksumAt]));
    std::vector<Resource> back;
    ASSERT_TRUE(ReadResources(f, &back, &error)) << error;
    ExpectSameTree(Sorted(tree), back);
  }
}

TEST(PeResources, ChecksumOfOddLengthsAgreesWithTheDwordSum) {
  for (size_t n : {64u, 65u, 66u, 67u, 1001u}) {
    Bytes f(n);
    for (size_t i = 0; i < n; ++i) f[i] = static_cast<uint8_t>(i * 151 + 7);
    EXPECT_EQ(ChecksumByDwords(f, 8), PeChecksum(f, 8)) << n;
  }
}

TEST(PeResources, RefusesWhatItCannotChangeSafely) {
  std::string error;
  std::vector<Resource> tree;
  Bytes f = HandMadeProgram(SmallTree(), false);
  ASSERT_TRUE(ReadResources(f, &tree, &error));
  Bytes overlay = f;
  overlay.push_back(1);
  EXPECT_FALSE(WriteResources(&overlay, tree, &error));
  EXPECT_NE(std::string::npos, error.find("behind its last section")) << error;
  Bytes signedProgram = f;
  StoreU32(&signedProgram[0x58 + 96 + 36], 16);
  EXPECT_FALSE(WriteResources(&signedProgram, tree, &error));
  EXPECT_NE(std::string::npos, error.find("signed")) << error;
  // Resources followed by a section that is not the relocations.
  Bytes middle = HandMadeProgram(SmallTree(), true);
  StoreU32(&middle[0x58 + 96 + 40], 0);
  EXPECT_FALSE(WriteResources(&middle, tree, &error));
  EXPECT_NE(std::string::npos, error.find("not in its last section")) << error;
}

// Every cut and a set of single-byte damages of a real-sized program: an
// answer either way, never a read outside the buffer (the sanitizer build
// runs this too).
TEST(PeResources, CutAndDamagedProgramsEndInAnAnswer) {
  const Bytes f = HandMadeProgram(SmallTree(), true);
  std::string error;
  std::vector<Resource> tree;
  for (size_t n = 0; n < f.size(); n += 7) {
    Bytes cut(f.begin(), f.begin() + static_cast<ptrdiff_t>(n));
    if (ReadResources(cut, &tree, &error)) {
      ADD_FAILURE() << "a program cut at " << n << " was read";
    }
    EXPECT_FALSE(WriteResources(&cut, tree, &error));
  }
  for (size_t at = 0; at < 0x200 + 0x100; ++at) {
    for (uint8_t v : {uint8_t(0xFF), uint8_t(0x80)}) {
      Bytes d = f;
      d[at] ^= v;
      if (ReadResources(d, &tree, &error)) (void)WriteResources(&d, tree, &error);
    }
  }
  // A directory that names itself as its child: bounded, refused.
  Bytes loop = f;
  StoreU32(&loop[kFileAlign + 16 + 4], 0x80000000u);
  EXPECT_FALSE(ReadResources(loop, &tree, &error));
}

// The .ico files below: a header, entries and images made here.
Bytes Ico(const std::vector<std::pair<uint8_t, Bytes>>& images) {
  Bytes f(6 + 16 * images.size());
  StoreU16(&f[2], 1);
  StoreU16(&f[4], static_cast<uint32_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    uint8_t* e = &f[6 + 16 * i];
    e[0] = e[1] = images[i].first;  // 0: 256 pixels
    StoreU16(e + 4, 1);
    StoreU16(e + 6, 32);
    StoreU32(e + 8, static_cast<uint32_t>(images[i].second.size()));
    StoreU32(e + 12, static_cast<uint32_t>(f.size()));
    f.insert(f.end(), images[i].second.begin(), images[i].second.end());
  }
  return f;
}

Bytes Group(const std::vector<uint16_t>& ids) {
  Bytes g(6 + 14 * ids.size());
  StoreU16(&g[2], 1);
  StoreU16(&g[4], static_cast<uint32_t>(ids.size()));
  for (size_t i = 0; i < ids.size(); ++i) StoreU16(&g[6 + 14 * i + 12], ids[i]);
  return g;
}

TEST(ProgramResources, IconReplacesOnlyWhatNoOtherGroupShows) {
  // Group 101 shows images 1 and 2; group 102 shows 2 and 3.
  std::vector<Resource> tree = {Res(kTypeIcon, ResKey::Id(1), 0x409, Bytes(40, 1)),
                                Res(kTypeIcon, ResKey::Id(2), 0x409, Bytes(40, 2)),
                                Res(kTypeIcon, ResKey::Id(3), 0x409, Bytes(40, 3)),
                                Res(kTypeGroupIcon, ResKey::Id(101), 0x409, Group({1, 2})),
                                Res(kTypeGroupIcon, ResKey::Id(102), 0x409, Group({2, 3}))};
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 1, 2, 3};
  const Bytes ico = Ico({{16, Bytes(40, 0x16)}, {32, Bytes(48, 0x32)}, {0, png}});
  std::string error;
  ASSERT_TRUE(ReplaceProgramIcon(&tree, ico, &error)) << error;
  for (const Resource& r : tree) EXPECT_FALSE(r.bytes == Bytes(40, 1)) << "image 1 of the old icon is left";
  ASSERT_NE(nullptr, FindResource(tree, kTypeIcon, 2));
  EXPECT_TRUE(Bytes(40, 2) == FindResource(tree, kTypeIcon, 2)->bytes);
  const Resource* group = FindResource(tree, kTypeGroupIcon, 101);
  ASSERT_NE(nullptr, group);
  ASSERT_EQ(6u + 3 * 14, group->bytes.size());
  EXPECT_EQ(0x409, group->language);
  const uint16_t want[] = {1, 4, 5};  // fresh numbers, around the kept 2 and 3
  for (int i = 0; i < 3; ++i) {
    const uint8_t* e = &group->bytes[6 + 14 * i];
    EXPECT_EQ(0, std::memcmp(e, &ico[6 + 16 * i], 12)) << i;
    EXPECT_EQ(want[i], LoadU16(e + 12));
    const Resource* image = FindResource(tree, kTypeIcon, want[i]);
    ASSERT_NE(nullptr, image);
    const uint32_t at = LoadU32(&ico[6 + 16 * i + 12]), size = LoadU32(&ico[6 + 16 * i + 8]);
    EXPECT_TRUE(Bytes(ico.begin() + at, ico.begin() + at + size) == image->bytes) << i;
  }
  EXPECT_EQ(0, group->bytes[6 + 28]);  // the 256-pixel entry keeps its 0
}

TEST(ProgramResources, HostileIconFilesAreRefused) {
  std::vector<Resource> tree = {Res(kTypeGroupIcon, ResKey::Id(101), 0x409, Group({}))};
  std::string error;
  const Bytes good = Ico({{16, Bytes(40, 1)}});
  struct Case {
    const char* what;
    Bytes ico;
  };
  std::vector<Case> cases = {{"empty", {}}, {"cursor, not icon", good}, {"no images", Ico({})},
                             {"count past the file", good}, {"offset past the end", good},
                             {"size past the end", good}, {"size overflowing with the offset", good},
                             {"image inside the directory", good}, {"huge count", Bytes(6 + 16 * 2000)}};
  StoreU16(&cases[1].ico[2], 2);
  StoreU16(&cases[3].ico[4], 2);
  StoreU32(&cases[4].ico[6 + 12], 1000);
  StoreU32(&cases[5].ico[6 + 8], 41);
  StoreU32(&cases[6].ico[6 + 8], 0xFFFFFFF0u);
  StoreU32(&cases[7].ico[6 + 12], 6);
  StoreU16(&cases[8].ico[2], 1);
  StoreU16(&cases[8].ico[4], 2000);
  for (Case& c : cases) {
    std::vector<Resource> t = tree;
    EXPECT_FALSE(ReplaceProgramIcon(&t, c.ico, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

TEST(ProgramResources, VersionStringsKeepTheRestAndSetTheNumbers) {
  std::vector<Resource> tree;
  std::string error;
  // No record yet: one is made; then changed again, keeping what it had.
  ASSERT_TRUE(SetVersionStrings(&tree, {{"CompanyName", "Old"}, {"ProductVersion", "9"}}, &error)) << error;
  ASSERT_TRUE(SetVersionStrings(&tree,
                                {{"CompanyName", "Größe & Söhne"},
                                 {"FileVersion", "2.10.3 beta"},
                                 {"LegalCopyright", "\xC2\xA9 2026 \xF0\x9F\x93\xA6"}},
                                &error))
      << error;
  const Resource* record = FindResource(tree, kTypeVersion, 1);
  ASSERT_NE(nullptr, record);
  VersionInfo info;
  ASSERT_TRUE(ReadVersionInfo(record->bytes, &info, &error)) << error;
  EXPECT_EQ(0x0002000A00030000ull, info.fileVersion);
  EXPECT_EQ(0x0009000000000000ull, info.productVersion);
  using P = std::pair<std::string, std::string>;
  const std::vector<P> want = {P{"CompanyName", "Größe & Söhne"}, P{"ProductVersion", "9"},
                               P{"FileVersion", "2.10.3 beta"}, P{"LegalCopyright", "\xC2\xA9 2026 \xF0\x9F\x93\xA6"}};
  EXPECT_EQ(want, info.strings);
  // The record's own length and the Translation value by hand.
  EXPECT_EQ(record->bytes.size(), LoadU16(&record->bytes[0]));
  const Bytes& b = record->bytes;
  EXPECT_EQ(0x409, LoadU16(&b[b.size() - 4]));
  EXPECT_EQ(1200, LoadU16(&b[b.size() - 2]));

  for (const P& bad : std::vector<P>{{"Comments", "x"}, {"FileVersion", "v2"}, {"FileVersion", "1.70000"},
                                     {"ProductName", "\xFF\xFE"}}) {
    EXPECT_FALSE(SetVersionStrings(&tree, {bad}, &error)) << bad.first << "=" << bad.second;
  }
  EXPECT_NE(std::string::npos, error.find("UTF-8")) << error;
}

TEST(ProgramResources, ExecutionLevelRewritesOnlyItsAttribute) {
  const std::string manifest =
      "<trustInfo><security><requestedPrivileges>\n"
      "  <requestedExecutionLevel uiAccess='false' level='asInvoker'/>\n"
      "</requestedPrivileges></security></trustInfo>";
  std::vector<Resource> tree = {Res(kTypeManifest, ResKey::Id(1), 0x409, Bytes(manifest.begin(), manifest.end()))};
  std::string error;
  ASSERT_TRUE(SetExecutionLevel(&tree, "requireAdministrator", &error)) << error;
  const Bytes& m = tree[0].bytes;
  std::string want = manifest;
  want.replace(want.find("asInvoker"), 9, "requireAdministrator");
  EXPECT_EQ(want, std::string(m.begin(), m.end()));
  EXPECT_FALSE(SetExecutionLevel(&tree, "root", &error));
  std::vector<Resource> none = {Res(kTypeManifest, ResKey::Id(1), 0x409, Bytes{'<', 'a', '/', '>'})};
  EXPECT_FALSE(SetExecutionLevel(&none, "asInvoker", &error));
}

// The Windows self-extractors of this build set: the shipped 32-bit one
// and the 64-bit test build beside this build folder, where they exist.
std::vector<fs::path> WindowsPrograms() {
  std::vector<fs::path> out;
  for (const fs::path& p : {fs::path(TVK_BINARY_DIR) / "../win32/host/tvksfx.exe",
                           fs::path(TVK_BINARY_DIR) / "../win64/host/tvksfx.exe"})
    if (fs::exists(p)) out.push_back(fs::canonical(p));
  return out;
}

TEST(ProgramResources, RealProgramsRoundTripAndReadBackElsewhere) {
  const std::vector<fs::path> programs = WindowsPrograms();
  if (programs.empty()) GTEST_SKIP() << "no Windows build beside this one";
  const fs::path dir = fs::path(TVK_BINARY_DIR) / "tests/writer/pe-work";
  fs::create_directories(dir);
  const Bytes png = ReadAll(fs::path(TVK_SOURCE_DIR) / "tests/data/icon/five.ico");
  ASSERT_FALSE(png.empty());
  for (const fs::path& program : programs) {
    SCOPED_TRACE(program.string());
    const Bytes original = ReadAll(program);
    std::vector<Resource> tree, again;
    std::string error;
    PeLayout l;
    ASSERT_TRUE(ParsePe(original, &l, &error)) << error;
    // The linker's own checksum, where it wrote one.
    if (LoadU32(&original[l.checksumAt]) != 0) {
      EXPECT_EQ(LoadU32(&original[l.checksumAt]), PeChecksum(original, l.checksumAt));
    }
    ASSERT_TRUE(ReadResources(original, &tree, &error)) << error;
    ASSERT_NE(nullptr, FindResource(tree, kTypeGroupIcon, kProgramIconGroup));
    Bytes same = original;
    ASSERT_TRUE(WriteResources(&same, tree, &error)) << error;
    ASSERT_TRUE(ReadResources(same, &again, &error)) << error;
    ExpectSameTree(tree, again);

    Bytes changed = original;
    ProgramChanges c;
    c.icon = png;
    c.version = {{"CompanyName", "Example Ltd"}, {"FileVersion", "3.4.5.6"}};
    c.elevation = "requireAdministrator";
    ASSERT_TRUE(ChangeProgram(&changed, c, &error)) << error;
    ASSERT_TRUE(ParsePe(changed, &l, &error));
    EXPECT_EQ(ChecksumByDwords(changed, l.checksumAt), LoadU32(&changed[l.checksumAt]));
    const fs::path out = dir / ("changed-" + program.parent_path().parent_path().filename().string() + ".exe");
    WriteAll(out, changed);

    int rc = 0;
    const char* objdump = l.pe32plus ? "x86_64-w64-mingw32-objdump" : "i686-w64-mingw32-objdump";
    if (Have(objdump)) {
      const std::string dump = Capture(std::string(objdump) + " -p '" + out.string() + "'", &rc);
      EXPECT_EQ(0, rc) << dump;
      char want[32];
      std::snprintf(want, sizeof want, "CheckSum\t\t%08x", LoadU32(&changed[l.checksumAt]));
      EXPECT_NE(std::string::npos, dump.find(want)) << dump;
      EXPECT_NE(std::string::npos, dump.find("Entry: ID: 0x000065")) << dump;  // group 101
      EXPECT_EQ(std::string::npos, dump.find("Corrupt")) << dump;
    }
    if (Have("wrestool")) {
      const std::string list = Capture("wrestool -l '" + out.string() + "'", &rc);
      EXPECT_EQ(0, rc) << list;
      EXPECT_NE(std::string::npos, list.find("--type=14 --name=101")) << list;
      const fs::path ico = dir / "back.ico";
      Capture("wrestool -x --type=14 --name=101 '" + out.string() + "' 2>/dev/null > '" + ico.string() + "'", &rc);
      EXPECT_EQ(0, rc);
      // wrestool pads what it puts together with zeros (the linker's own
      // icon comes out so too).
      Bytes back = ReadAll(ico);
      ASSERT_GE(back.size(), png.size());
      EXPECT_TRUE(Bytes(back.begin(), back.begin() + static_cast<ptrdiff_t>(png.size())) == png);
      EXPECT_EQ(back.end(), std::find_if(back.begin() + static_cast<ptrdiff_t>(png.size()), back.end(),
                                         [](uint8_t b) { return b != 0; }));
      const std::string manifest = Capture("wrestool -x --raw --type=24 '" + out.string() + "'", &rc);
      EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\"")) << manifest;
    }
  }
}

}  // namespace
}  // namespace tvk::pe

#endif  // !_WIN32
