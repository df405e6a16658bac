#include "writer/pe_resources.h"

#include <algorithm>
#include <map>

#include "common/bytes.h"

namespace tvk::pe {
namespace {

constexpr uint32_t kHigh = 0x80000000u;
constexpr size_t kDirResources = 2;
constexpr size_t kDirCertificates = 4;
constexpr size_t kDirRelocations = 5;
constexpr uint32_t kInitializedData = 0x40;
// A real program has a few hundred; a hostile one could point its tables
// at each other and make a small file describe billions.
constexpr size_t kMaxEntries = 1 << 16;

struct Section {
  size_t at;  // of its row in the section table
  uint32_t virtualSize, rva, rawSize, rawAt;
};

Section SectionAt(const std::vector<uint8_t>& f, const PeLayout& l, unsigned i) {
  const size_t at = l.sectionsAt + i * 40u;
  return {at, LoadU32(&f[at + 8]), LoadU32(&f[at + 12]), LoadU32(&f[at + 16]), LoadU32(&f[at + 20])};
}

uint32_t AlignUp(uint64_t v, uint32_t a) { return static_cast<uint32_t>((v + a - 1) / a * a); }

// The file offset of size bytes at rva, or false when they are not all in
// one section's file data.
bool RvaToOffset(const std::vector<uint8_t>& f, const PeLayout& l, uint32_t rva, uint32_t size,
                 size_t* offset) {
  for (unsigned i = 0; i < l.sectionCount; ++i) {
    const Section s = SectionAt(f, l, i);
    if (rva < s.rva) continue;
    const uint64_t in = rva - s.rva;
    if (in + size > s.rawSize || uint64_t(s.rawAt) + in + size > f.size()) continue;
    *offset = s.rawAt + in;
    return true;
  }
  return false;
}

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

class TreeReader {
 public:
  TreeReader(const std::vector<uint8_t>& f, const PeLayout& l, size_t base, size_t limit,
             std::vector<Resource>* out)
      : f_(f), l_(l), base_(base), limit_(limit), out_(out) {}

  bool Directory(uint32_t offset, int level, Resource* path, std::string* error) {
    if (uint64_t(base_) + offset + 16 > limit_) return Fail("a resource directory lies outside its section", error);
    const uint8_t* d = &f_[base_ + offset];
    const uint32_t count = uint32_t(LoadU16(d + 12)) + LoadU16(d + 14);
    if (uint64_t(base_) + offset + 16 + count * 8ull > limit_)
      return Fail("a resource directory runs past its section", error);
    for (uint32_t i = 0; i < count; ++i) {
      if (++entries_ > kMaxEntries) return Fail("the resource tree has too many entries", error);
      const uint8_t* e = d + 16 + i * 8;
      const uint32_t nameField = LoadU32(e), target = LoadU32(e + 4);
      ResKey key;
      if (nameField & kHigh) {
        if (!Name(nameField & ~kHigh, &key.name, error)) return false;
      } else {
        key.id = static_cast<uint16_t>(nameField);
      }
      if (level == 0) path->type = key;
      else if (level == 1) path->name = key;
      else path->language = key.id;
      if ((target & kHigh) != 0) {
        if (level == 2) return Fail("the resource tree is deeper than three levels", error);
        if (!Directory(target & ~kHigh, level + 1, path, error)) return false;
      } else {
        if (level != 2) return Fail("a resource lies above the language level", error);
        if (!Data(target, path, error)) return false;
      }
    }
    return true;
  }

 private:
  static bool Fail(const char* what, std::string* error) {
    *error = what;
    return false;
  }

  bool Name(uint32_t offset, std::u16string* name, std::string* error) {
    if (uint64_t(base_) + offset + 2 > limit_) return Fail("a resource name lies outside its section", error);
    const uint32_t length = LoadU16(&f_[base_ + offset]);
    if (uint64_t(base_) + offset + 2 + length * 2ull > limit_)
      return Fail("a resource name runs past its section", error);
    if (length == 0) return Fail("a resource has an empty name", error);
    for (uint32_t i = 0; i < length; ++i) name->push_back(static_cast<char16_t>(LoadU16(&f_[base_ + offset + 2 + i * 2])));
    return true;
  }

  bool Data(uint32_t offset, Resource* path, std::string* error) {
    if (uint64_t(base_) + offset + 16 > limit_) return Fail("a resource data entry lies outside its section", error);
    const uint8_t* e = &f_[base_ + offset];
    const uint32_t rva = LoadU32(e), size = LoadU32(e + 4);
    size_t at = 0;
    if (!RvaToOffset(f_, l_, rva, size, &at)) return Fail("a resource's data lies outside the file", error);
    path->codepage = LoadU32(e + 8);
    path->bytes.assign(f_.begin() + static_cast<ptrdiff_t>(at), f_.begin() + static_cast<ptrdiff_t>(at + size));
    out_->push_back(*path);
    return true;
  }

  const std::vector<uint8_t>& f_;
  const PeLayout& l_;
  size_t base_, limit_;
  std::vector<Resource>* out_;
  size_t entries_ = 0;
};

bool ResourceBefore(const Resource& a, const Resource& b) {
  if (!(a.type == b.type)) return KeyBefore(a.type, b.type);
  if (!(a.name == b.name)) return KeyBefore(a.name, b.name);
  return a.language < b.language;
}

// One directory table in the making: its keys and, per key, what it points
// at (a further table, or a resource).
struct Table {
  std::vector<ResKey> keys;
  std::vector<size_t> targets;  // index into the tables or the resources
  uint32_t at = 0;
};

}  // namespace

bool KeyBefore(const ResKey& a, const ResKey& b) {
  const bool an = !a.name.empty(), bn = !b.name.empty();
  if (an != bn) return an;
  return an ? a.name < b.name : a.id < b.id;
}

bool ParsePe(const std::vector<uint8_t>& f, PeLayout* l, std::string* error) {
  *l = PeLayout();
  if (f.size() < 64 || f[0] != 'M' || f[1] != 'Z') {
    *error = "not a Windows program (no MZ header)";
    return false;
  }
  const uint64_t pe = LoadU32(&f[0x3c]);
  if (pe + 24 > f.size() || LoadU32(&f[pe]) != 0x00004550) {
    *error = "not a Windows program (no PE header)";
    return false;
  }
  const size_t opt = static_cast<size_t>(pe) + 24;
  const uint16_t optSize = LoadU16(&f[pe + 20]);
  l->sectionCount = LoadU16(&f[pe + 6]);
  l->sectionsAt = opt + optSize;
  if (optSize < 2 || opt + optSize > f.size()) {
    *error = "the program's optional header is cut short";
    return false;
  }
  const uint16_t magic = LoadU16(&f[opt]);
  if (magic != 0x10b && magic != 0x20b) {
    *error = "the program is neither PE32 nor PE32+";
    return false;
  }
  l->pe32plus = magic == 0x20b;
  const size_t dirs = l->pe32plus ? 112 : 96;
  if (optSize < dirs) {
    *error = "the program's optional header is cut short";
    return false;
  }
  l->sectionAlignment = LoadU32(&f[opt + 32]);
  l->fileAlignment = LoadU32(&f[opt + 36]);
  l->checksumAt = opt + 64;
  l->dataDirAt = opt + dirs;
  l->dataDirCount = std::min<uint32_t>(LoadU32(&f[opt + dirs - 4]), (optSize - dirs) / 8);
  if (!IsPowerOfTwo(l->sectionAlignment) || !IsPowerOfTwo(l->fileAlignment)) {
    *error = "the program's section or file alignment is not a power of two";
    return false;
  }
  if (l->sectionsAt + l->sectionCount * 40ull > f.size()) {
    *error = "the program's section table runs past its end";
    return false;
  }
  for (unsigned i = 0; i < l->sectionCount; ++i) {
    const Section s = SectionAt(f, *l, i);
    if (uint64_t(s.rawAt) + s.rawSize > f.size()) {
      *error = "a section of the program runs past its end";
      return false;
    }
  }
  return true;
}

bool ReadResources(const std::vector<uint8_t>& f, std::vector<Resource>* tree, std::string* error) {
  tree->clear();
  PeLayout l;
  if (!ParsePe(f, &l, error)) return false;
  if (l.dataDirCount <= kDirResources) return true;
  const uint32_t rva = LoadU32(&f[l.dataDirAt + kDirResources * 8]);
  if (rva == 0) return true;
  for (unsigned i = 0; i < l.sectionCount; ++i) {
    const Section s = SectionAt(f, l, i);
    if (rva < s.rva || rva - s.rva >= s.rawSize) continue;
    TreeReader reader(f, l, s.rawAt + (rva - s.rva), size_t(s.rawAt) + s.rawSize, tree);
    Resource path;
    if (!reader.Directory(0, 0, &path, error)) return false;
    std::sort(tree->begin(), tree->end(), ResourceBefore);
    return true;
  }
  *error = "the program's resources lie outside its sections";
  return false;
}

std::vector<uint8_t> BuildResourceSection(std::vector<Resource> tree, uint32_t rva) {
  std::stable_sort(tree.begin(), tree.end(), ResourceBefore);
  // Tables breadth first: the root, the names of each type, the languages
  // of each name; then the data entries, the name strings and the data.
  std::vector<Table> tables(1);
  std::vector<size_t> level1, level2;
  for (size_t i = 0; i < tree.size(); ++i) {
    const Resource& r = tree[i];
    const bool newType = i == 0 || !(tree[i - 1].type == r.type);
    const bool newName = newType || !(tree[i - 1].name == r.name);
    if (newType) {
      tables[0].keys.push_back(r.type);
      tables[0].targets.push_back(level1.size());
      level1.push_back(tables.size());
      tables.emplace_back();
    }
    if (newName) {
      Table& t = tables[level1.back()];
      t.keys.push_back(r.name);
      t.targets.push_back(level2.size());
      level2.push_back(tables.size());
      tables.emplace_back();
    }
    Table& t = tables[level2.back()];
    t.keys.push_back(ResKey::Id(r.language));
    t.targets.push_back(i);
  }
  // Breadth first: root, then the type tables, then the name tables.
  std::vector<size_t> order{0};
  order.insert(order.end(), level1.begin(), level1.end());
  order.insert(order.end(), level2.begin(), level2.end());
  uint32_t at = 0;
  for (size_t t : order) {
    tables[t].at = at;
    at += 16 + 8 * static_cast<uint32_t>(tables[t].keys.size());
  }
  const uint32_t dataEntries = at;
  at += 16 * static_cast<uint32_t>(tree.size());
  std::map<std::u16string, uint32_t> names;
  for (const Table& t : tables)
    for (const ResKey& k : t.keys)
      if (!k.name.empty() && names.emplace(k.name, at).second) at += 2 + 2 * static_cast<uint32_t>(k.name.size());
  std::vector<uint32_t> dataAt(tree.size());
  for (size_t i = 0; i < tree.size(); ++i) {
    at = AlignUp(at, 8);
    dataAt[i] = at;
    at += static_cast<uint32_t>(tree[i].bytes.size());
  }
  std::vector<uint8_t> out(at);
  for (size_t ti = 0; ti < tables.size(); ++ti) {
    const Table& t = tables[ti];
    uint8_t* d = &out[t.at];
    uint32_t named = 0;
    for (const ResKey& k : t.keys) named += !k.name.empty();
    StoreU16(d + 12, named);
    StoreU16(d + 14, static_cast<uint32_t>(t.keys.size()) - named);
    const bool leafLevel = std::find(level2.begin(), level2.end(), ti) != level2.end();
    for (size_t k = 0; k < t.keys.size(); ++k) {
      uint8_t* e = d + 16 + k * 8;
      StoreU32(e, t.keys[k].name.empty() ? t.keys[k].id : names[t.keys[k].name] | kHigh);
      if (leafLevel) {
        StoreU32(e + 4, dataEntries + 16 * static_cast<uint32_t>(t.targets[k]));
      } else {
        const size_t child = (ti == 0 ? level1 : level2)[t.targets[k]];
        StoreU32(e + 4, tables[child].at | kHigh);
      }
    }
  }
  for (size_t i = 0; i < tree.size(); ++i) {
    uint8_t* e = &out[dataEntries + 16 * i];
    StoreU32(e, rva + dataAt[i]);
    StoreU32(e + 4, static_cast<uint32_t>(tree[i].bytes.size()));
    StoreU32(e + 8, tree[i].codepage);
    std::copy(tree[i].bytes.begin(), tree[i].bytes.end(), out.begin() + dataAt[i]);
  }
  for (const auto& [name, offset] : names) {
    StoreU16(&out[offset], static_cast<uint32_t>(name.size()));
    for (size_t i = 0; i < name.size(); ++i) StoreU16(&out[offset + 2 + 2 * i], name[i]);
  }
  return out;
}

namespace {

bool CertificatesIn(const std::vector<uint8_t>& f, const PeLayout& l) {
  return l.dataDirCount > kDirCertificates && LoadU32(&f[l.dataDirAt + kDirCertificates * 8 + 4]) != 0;
}

}  // namespace

bool HasCertificateTable(const std::vector<uint8_t>& file) {
  PeLayout l;
  std::string error;
  return ParsePe(file, &l, &error) && CertificatesIn(file, l);
}

bool WriteResources(std::vector<uint8_t>* file, const std::vector<Resource>& tree, std::string* error) {
  std::vector<uint8_t>& f = *file;
  PeLayout l;
  if (!ParsePe(f, &l, error)) return false;
  auto dir = [&](size_t i) { return l.dataDirAt + i * 8; };
  if (l.dataDirCount <= kDirResources || LoadU32(&f[dir(kDirResources)]) == 0) {
    *error = "the program has no resources to change";
    return false;
  }
  if (CertificatesIn(f, l)) {
    *error = "the program is signed: change its resources first and sign it afterwards";
    return false;
  }
  std::vector<Section> sections;
  uint64_t end = 0;
  for (unsigned i = 0; i < l.sectionCount; ++i) {
    sections.push_back(SectionAt(f, l, i));
    end = std::max<uint64_t>(end, uint64_t(sections.back().rawAt) + sections.back().rawSize);
  }
  if (end != f.size()) {
    *error = "the program has data behind its last section: change its resources before anything is appended";
    return false;
  }
  const uint32_t rsrcRva = LoadU32(&f[dir(kDirResources)]);
  size_t s = 0;
  while (s < sections.size() && sections[s].rva != rsrcRva) ++s;
  if (s == sections.size()) {
    *error = "the program's resources do not start a section of their own";
    return false;
  }
  // What may follow the resources: the base relocations, alone.
  const bool relocAfter = s + 2 == sections.size() && l.dataDirCount > kDirRelocations &&
                          sections[s + 1].rva == LoadU32(&f[dir(kDirRelocations)]);
  if (s + 1 != sections.size() && !relocAfter) {
    *error = "the program's resources are not in its last section";
    return false;
  }
  // Uninitialised data (.bss) has no place in the file, only an address.
  for (size_t i = 0; i + 1 < sections.size(); ++i) {
    const bool inFile = sections[i].rawSize != 0 && sections[i + 1].rawSize != 0;
    if (sections[i + 1].rva <= sections[i].rva || (inFile && sections[i + 1].rawAt < sections[i].rawAt)) {
      *error = "the program's sections are not in address order";
      return false;
    }
  }
  const Section old = sections[s];
  const std::vector<uint8_t> body = BuildResourceSection(tree, old.rva);
  const uint32_t rawSize = AlignUp(body.size(), l.fileAlignment);
  std::vector<uint8_t> reloc;
  if (relocAfter)
    reloc.assign(f.begin() + sections[s + 1].rawAt, f.begin() + sections[s + 1].rawAt + sections[s + 1].rawSize);
  f.resize(old.rawAt);
  f.insert(f.end(), body.begin(), body.end());
  f.resize(size_t(old.rawAt) + rawSize);
  StoreU32(&f[old.at + 8], static_cast<uint32_t>(body.size()));
  StoreU32(&f[old.at + 16], rawSize);
  uint64_t imageEnd = uint64_t(old.rva) + body.size();
  if (relocAfter) {
    const Section& r = sections[s + 1];
    const uint32_t rva = AlignUp(imageEnd, l.sectionAlignment);
    StoreU32(&f[r.at + 12], rva);
    StoreU32(&f[r.at + 20], static_cast<uint32_t>(f.size()));
    f.insert(f.end(), reloc.begin(), reloc.end());
    StoreU32(&f[dir(kDirRelocations)], LoadU32(&f[dir(kDirRelocations)]) - r.rva + rva);
    imageEnd = uint64_t(rva) + std::max(r.virtualSize, r.rawSize);
  }
  const size_t opt = l.checksumAt - 64;
  StoreU32(&f[opt + 56], AlignUp(imageEnd, l.sectionAlignment));
  if (LoadU32(&f[old.at + 36]) & kInitializedData)
    StoreU32(&f[opt + 8], LoadU32(&f[opt + 8]) - old.rawSize + rawSize);
  StoreU32(&f[dir(kDirResources) + 4], static_cast<uint32_t>(body.size()));
  StoreU32(&f[l.checksumAt], PeChecksum(f, l.checksumAt));
  return true;
}

uint32_t PeChecksum(const std::vector<uint8_t>& file, size_t checksumAt) {
  uint64_t sum = 0;
  auto byteAt = [&](size_t i) -> uint32_t { return i >= checksumAt && i < checksumAt + 4 ? 0 : file[i]; };
  for (size_t i = 0; i < file.size(); i += 2) {
    sum += byteAt(i) | (i + 1 < file.size() ? byteAt(i + 1) << 8 : 0);
    sum = (sum & 0xffff) + (sum >> 16);
  }
  sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint32_t>(sum + file.size());
}

Resource* FindResource(std::vector<Resource>& tree, uint16_t type, uint16_t name) {
  for (Resource& r : tree)
    if (r.type == ResKey::Id(type) && r.name == ResKey::Id(name)) return &r;
  return nullptr;
}

}  // namespace tvk::pe
