// The resources of a Windows program (PE32 or PE32+): read the resource
// tree of its .rsrc section, change it, and write the section back.
//
// Typical use (`tvk sfx --icon ...`, on a copy of the program before the
// payload goes behind it):
//
//   std::vector<tvk::pe::Resource> tree;
//   if (!tvk::pe::ReadResources(program, &tree, &error)) ...
//   ... change tree (program_resources.h) ...
//   if (!tvk::pe::WriteResources(&program, tree, &error)) ...
//
// WriteResources rebuilds the section from the tree: named entries before
// numbered ones at every level, names in ordinal order, ids ascending, each
// data block on an 8-byte boundary. The section must be the last one in the
// file, or be followed only by the base relocations, which are moved behind
// it (they hold the addresses of the places they fix, never their own). The
// image size, the resource directory entry and the checksum follow.
// A program with bytes behind its last section or with a certificate table
// is refused: a signature would not survive the change, so sign afterwards.
// Every function answers false with a one-line message in *error.
#ifndef TVK_WRITER_PE_RESOURCES_H
#define TVK_WRITER_PE_RESOURCES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tvk::pe {

constexpr uint16_t kTypeIcon = 3;
constexpr uint16_t kTypeGroupIcon = 14;
constexpr uint16_t kTypeVersion = 16;
constexpr uint16_t kTypeManifest = 24;

// A level's key: a number, or a name when name is not empty.
struct ResKey {
  uint16_t id = 0;
  std::u16string name;
  static ResKey Id(uint16_t id) { return ResKey{id, {}}; }
  bool operator==(const ResKey&) const = default;
};

// Named keys first in ordinal order, then ids ascending: the order the
// directory tables must keep.
bool KeyBefore(const ResKey& a, const ResKey& b);

struct Resource {
  ResKey type;
  ResKey name;
  uint16_t language = 0;
  uint32_t codepage = 0;
  std::vector<uint8_t> bytes;
};

// Where things are in a program file.
struct PeLayout {
  bool pe32plus = false;
  size_t checksumAt = 0;     // file offset of the optional header's CheckSum
  size_t dataDirAt = 0;      // file offset of data directory 0
  uint32_t dataDirCount = 0;
  size_t sectionsAt = 0;     // file offset of the section table
  uint16_t sectionCount = 0;
  uint32_t fileAlignment = 0;
  uint32_t sectionAlignment = 0;
};

bool ParsePe(const std::vector<uint8_t>& file, PeLayout* layout, std::string* error);

// The whole tree, sorted by type, name and language.
bool ReadResources(const std::vector<uint8_t>& file, std::vector<Resource>* tree, std::string* error);

// The bytes of a resource section holding tree at virtual address rva.
std::vector<uint8_t> BuildResourceSection(std::vector<Resource> tree, uint32_t rva);

bool WriteResources(std::vector<uint8_t>* file, const std::vector<Resource>& tree, std::string* error);

// Whether file is a program with a certificate table (a code signature)
// behind its sections.
bool HasCertificateTable(const std::vector<uint8_t>& file);

// The optional header's checksum of file, with the field at checksumAt
// counted as zero.
uint32_t PeChecksum(const std::vector<uint8_t>& file, size_t checksumAt);

// The resource of type and name (any language), or null.
Resource* FindResource(std::vector<Resource>& tree, uint16_t type, uint16_t name);

}  // namespace tvk::pe

#endif
