#include "writer/program_resources.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

#include "common/bytes.h"
#include "writer/archive_text.h"

namespace tvk::pe {

const char* const kVersionKeys[7] = {"CompanyName",     "ProductName",     "ProductVersion",  "FileVersion",
                                     "FileDescription", "LegalCopyright", "OriginalFilename"};

namespace {

constexpr uint16_t kEnglishUs = 0x409;
constexpr uint16_t kUnicodeCodepage = 1200;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
// Header 6, PNG or bitmap header behind it: an icon image is never shorter.
constexpr uint32_t kMinImage = 8;
// Far more sizes and depths than any icon holds; ids stay 16-bit.
constexpr uint32_t kMaxImages = 256;

std::vector<uint16_t> GroupIds(const Resource& group) {
  std::vector<uint16_t> ids;
  const std::vector<uint8_t>& g = group.bytes;
  if (g.size() < 6) return ids;
  const size_t count = LoadU16(&g[4]);
  for (size_t i = 0; i < count && 6 + i * 14 + 14 <= g.size(); ++i) ids.push_back(LoadU16(&g[6 + i * 14 + 12]));
  return ids;
}

// A node of the version record: a key, a text (type 1) or binary value, and
// the nodes inside it.
struct VersionNode {
  std::u16string key;
  uint16_t type = 1;
  std::vector<uint8_t> value;
  std::vector<VersionNode> children;
};

size_t Align4(size_t v) { return (v + 3) & ~size_t(3); }

bool ParseNode(const std::vector<uint8_t>& r, size_t at, size_t end, int depth, VersionNode* node) {
  if (depth > 4 || at + 6 > end) return false;
  const size_t length = LoadU16(&r[at]), valueLength = LoadU16(&r[at + 2]);
  node->type = LoadU16(&r[at + 4]);
  if (length < 6 || at + length > end) return false;
  end = at + length;
  size_t p = at + 6;
  for (;; p += 2) {
    if (p + 2 > end) return false;
    const char16_t c = static_cast<char16_t>(LoadU16(&r[p]));
    if (c == 0) break;
    node->key.push_back(c);
  }
  p = Align4(p + 2);
  // Some writers count a text value in bytes rather than in characters.
  const size_t valueBytes = std::min(node->type == 1 ? valueLength * 2 : valueLength, p < end ? end - p : 0);
  if (node->type != 1 && p + valueLength > end) return false;
  node->value.assign(r.begin() + static_cast<ptrdiff_t>(std::min(p, end)),
                     r.begin() + static_cast<ptrdiff_t>(std::min(p, end) + valueBytes));
  for (p = Align4(p + valueBytes); p + 6 <= end; p = Align4(p + LoadU16(&r[p]))) {
    node->children.emplace_back();
    if (!ParseNode(r, p, end, depth + 1, &node->children.back())) return false;
  }
  return true;
}

void WriteNode(const VersionNode& n, std::vector<uint8_t>* out) {
  while (out->size() % 4) out->push_back(0);
  const size_t start = out->size();
  out->resize(start + 6);
  for (char16_t c : n.key) {
    out->push_back(static_cast<uint8_t>(c));
    out->push_back(static_cast<uint8_t>(c >> 8));
  }
  out->push_back(0);
  out->push_back(0);
  while (out->size() % 4) out->push_back(0);
  out->insert(out->end(), n.value.begin(), n.value.end());
  for (const VersionNode& c : n.children) WriteNode(c, out);
  StoreU16(&(*out)[start], static_cast<uint32_t>(out->size() - start));
  StoreU16(&(*out)[start + 2], static_cast<uint32_t>(n.type == 1 ? n.value.size() / 2 : n.value.size()));
  StoreU16(&(*out)[start + 4], n.type);
}

std::u16string Utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// A text value: UTF-16LE with its terminating zero.
std::vector<uint8_t> TextValue(const std::string& utf8) {
  std::vector<uint8_t> v = Utf8ToUtf16Le(utf8);
  v.push_back(0);
  v.push_back(0);
  return v;
}

std::string Utf8Of(const std::vector<uint8_t>& utf16le) {
  std::string out;
  for (size_t i = 0; i + 1 < utf16le.size(); i += 2) {
    uint32_t c = LoadU16(&utf16le[i]);
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < utf16le.size()) {
      const uint32_t low = LoadU16(&utf16le[i + 2]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// "1.2.3.4" (or "2.1 beta": the numbers in front count) as two words each
// of two 16-bit parts, missing parts 0.
bool ParseVersionNumber(const std::string& text, uint64_t* out) {
  uint64_t v = 0;
  size_t p = 0;
  int parts = 0;
  while (parts < 4 && p < text.size() && text[p] >= '0' && text[p] <= '9') {
    uint32_t n = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
      n = n * 10 + static_cast<uint32_t>(text[p++] - '0');
      if (n > 0xFFFF) return false;
    }
    v |= uint64_t(n) << (48 - 16 * parts++);
    if (p < text.size() && text[p] == '.' && p + 1 < text.size() && text[p + 1] >= '0' && text[p + 1] <= '9') ++p;
    else break;
  }
  *out = v;
  return parts > 0;
}

VersionNode* Child(VersionNode& n, const char* key) {
  for (VersionNode& c : n.children)
    if (c.key == Utf16(key)) return &c;
  return nullptr;
}

}  // namespace

bool IsVersionKey(const std::string& key) {
  return std::find(std::begin(kVersionKeys), std::end(kVersionKeys), key) != std::end(kVersionKeys);
}

std::string VersionKeyList() {
  std::string s;
  for (const char* k : kVersionKeys) s += (s.empty() ? "" : ", ") + std::string(k);
  return s;
}

bool IsExecutionLevel(const std::string& level) {
  return level == "asInvoker" || level == "highestAvailable" || level == "requireAdministrator";
}

bool ReplaceProgramIcon(std::vector<Resource>* tree, const std::vector<uint8_t>& ico, std::string* error) {
  if (ico.size() < 6 || LoadU16(&ico[0]) != 0 || LoadU16(&ico[2]) != 1) {
    *error = "not an icon file (no icon directory at its start)";
    return false;
  }
  const uint32_t count = LoadU16(&ico[4]);
  if (count == 0) {
    *error = "the icon file holds no images";
    return false;
  }
  if (count > kMaxImages || 6 + 16ull * count > ico.size()) {
    *error = "the icon file names " + std::to_string(count) + " images; it holds room for " +
             std::to_string((ico.size() - 6) / 16) + " (at most " + std::to_string(kMaxImages) + ")";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = &ico[6 + 16 * i];
    const uint64_t size = LoadU32(e + 8), offset = LoadU32(e + 12);
    if (size < kMinImage || offset < 6 + 16ull * count || offset + size > ico.size()) {
      *error = "image " + std::to_string(i + 1) + " of the icon file lies outside it";
      return false;
    }
  }
  uint16_t language = kEnglishUs;
  uint32_t codepage = 0;
  std::set<uint16_t> old, kept;
  for (const Resource& r : *tree) {
    if (!(r.type == ResKey::Id(kTypeGroupIcon))) continue;
    const bool ours = r.name == ResKey::Id(kProgramIconGroup);
    if (ours) {
      language = r.language;
      codepage = r.codepage;
    }
    for (uint16_t id : GroupIds(r)) (ours ? old : kept).insert(id);
  }
  std::erase_if(*tree, [&](const Resource& r) {
    if (r.type == ResKey::Id(kTypeGroupIcon)) return r.name == ResKey::Id(kProgramIconGroup);
    return r.type == ResKey::Id(kTypeIcon) && r.name.name.empty() && old.count(r.name.id) && !kept.count(r.name.id);
  });
  std::set<uint16_t> taken;
  for (const Resource& r : *tree)
    if (r.type == ResKey::Id(kTypeIcon) && r.name.name.empty()) taken.insert(r.name.id);
  Resource group{ResKey::Id(kTypeGroupIcon), ResKey::Id(kProgramIconGroup), language, codepage, {}};
  group.bytes.assign(ico.begin(), ico.begin() + 6);
  uint16_t next = 1;
  for (uint32_t i = 0; i < count; ++i) {
    while (next != 0 && taken.count(next)) ++next;
    if (next == 0) {
      *error = "the program has no free icon numbers left";
      return false;
    }
    const uint8_t* e = &ico[6 + 16 * i];
    const uint32_t size = LoadU32(e + 8), offset = LoadU32(e + 12);
    // The directory entry as it is, its last word the image's number
    // instead of its place in the file.
    group.bytes.insert(group.bytes.end(), e, e + 12);
    group.bytes.push_back(static_cast<uint8_t>(next));
    group.bytes.push_back(static_cast<uint8_t>(next >> 8));
    Resource image{ResKey::Id(kTypeIcon), ResKey::Id(next), language, codepage, {}};
    image.bytes.assign(ico.begin() + offset, ico.begin() + offset + size);
    tree->push_back(std::move(image));
    taken.insert(next);
  }
  tree->push_back(std::move(group));
  return true;
}

bool SetVersionStrings(std::vector<Resource>* tree, const std::vector<std::pair<std::string, std::string>>& values,
                       std::string* error) {
  Resource* record = FindResource(*tree, kTypeVersion, 1);
  VersionNode old;
  if (record && !ParseNode(record->bytes, 0, record->bytes.size(), 0, &old)) {
    *error = "the program's version record is damaged";
    return false;
  }
  // The strings and the language of the first block; a missing record or
  // block starts from nothing in US English, Unicode.
  std::u16string block = u"040904B0";
  std::vector<VersionNode> strings;
  if (VersionNode* sfi = Child(old, "StringFileInfo"); sfi && !sfi->children.empty()) {
    block = sfi->children[0].key;
    strings = sfi->children[0].children;
  }
  std::vector<uint8_t> fixed(52, 0);
  if (old.value.size() == 52 && LoadU32(old.value.data()) == kFixedInfoSignature) {
    fixed = old.value;
  } else {
    StoreU32(&fixed[0], kFixedInfoSignature);
    StoreU32(&fixed[4], 0x10000);
    StoreU32(&fixed[32], 0x40004);  // Windows NT, 32-bit
    StoreU32(&fixed[36], 1);        // an application
  }
  for (const auto& [key, value] : values) {
    if (!IsVersionKey(key)) {
      *error = "no version key " + key + " (the keys are " + VersionKeyList() + ")";
      return false;
    }
    if (Utf8Of(Utf8ToUtf16Le(value)) != value) {
      *error = "the " + key + " text is not UTF-8";
      return false;
    }
    if (key == "FileVersion" || key == "ProductVersion") {
      uint64_t n = 0;
      if (!ParseVersionNumber(value, &n)) {
        *error = key + " " + value + " does not start with a version number such as 1.2.3.4 (parts 0 to 65535)";
        return false;
      }
      const size_t at = key == "FileVersion" ? 8 : 16;
      StoreU32(&fixed[at], static_cast<uint32_t>(n >> 32));
      StoreU32(&fixed[at + 4], static_cast<uint32_t>(n));
    }
    VersionNode s{Utf16(key), 1, TextValue(value), {}};
    auto same = std::find_if(strings.begin(), strings.end(), [&](const VersionNode& n) { return n.key == s.key; });
    if (same != strings.end()) *same = std::move(s);
    else strings.push_back(std::move(s));
  }
  uint32_t lang = kEnglishUs, cp = kUnicodeCodepage;
  if (block.size() == 8) {
    const std::string hex(block.begin(), block.end());
    const unsigned long v = std::strtoul(hex.c_str(), nullptr, 16);
    lang = static_cast<uint32_t>(v >> 16);
    cp = static_cast<uint32_t>(v & 0xFFFF);
  }
  std::vector<uint8_t> translation(4);
  StoreU16(&translation[0], lang);
  StoreU16(&translation[2], cp);
  VersionNode root{u"VS_VERSION_INFO", 0, fixed, {}};
  root.children.push_back({u"StringFileInfo", 1, {}, {{block, 1, {}, std::move(strings)}}});
  root.children.push_back({u"VarFileInfo", 1, {}, {{u"Translation", 0, translation, {}}}});
  std::vector<uint8_t> bytes;
  WriteNode(root, &bytes);
  if (record) {
    record->bytes = std::move(bytes);
  } else {
    tree->push_back({ResKey::Id(kTypeVersion), ResKey::Id(1), kEnglishUs, 0, std::move(bytes)});
  }
  return true;
}

bool SetExecutionLevel(std::vector<Resource>* tree, const std::string& level, std::string* error) {
  if (!IsExecutionLevel(level)) {
    *error = "no execution level " + level + " (asInvoker, highestAvailable or requireAdministrator)";
    return false;
  }
  Resource* manifest = FindResource(*tree, kTypeManifest, 1);
  if (!manifest) {
    *error = "the program has no manifest";
    return false;
  }
  std::string text(manifest->bytes.begin(), manifest->bytes.end());
  const size_t tag = text.find("<requestedExecutionLevel");
  const size_t close = tag == std::string::npos ? tag : text.find('>', tag);
  size_t attr = tag;
  while (attr != std::string::npos && attr < close) {
    attr = text.find("level", attr + 1);
    if (attr < close && std::isspace(static_cast<unsigned char>(text[attr - 1]))) break;
  }
  if (tag == std::string::npos || close == std::string::npos || attr >= close) {
    *error = "the program's manifest asks for no execution level";
    return false;
  }
  size_t p = attr + 5;
  while (p < close && (text[p] == ' ' || text[p] == '=')) ++p;
  const char quote = p < close ? text[p] : 0;
  const size_t end = quote == '"' || quote == '\'' ? text.find(quote, p + 1) : std::string::npos;
  if (end == std::string::npos || end > close) {
    *error = "the program's manifest has an execution level without a quoted value";
    return false;
  }
  text.replace(p + 1, end - p - 1, level);
  manifest->bytes.assign(text.begin(), text.end());
  return true;
}

bool ChangeProgram(std::vector<uint8_t>* program, const ProgramChanges& c, std::string* error) {
  std::vector<Resource> tree;
  if (!ReadResources(*program, &tree, error)) return false;
  if (!c.icon.empty() && !ReplaceProgramIcon(&tree, c.icon, error)) return false;
  if (!c.version.empty() && !SetVersionStrings(&tree, c.version, error)) return false;
  if (!c.elevation.empty() && !SetExecutionLevel(&tree, c.elevation, error)) return false;
  return WriteResources(program, tree, error);
}

bool ReadVersionInfo(const std::vector<uint8_t>& record, VersionInfo* info, std::string* error) {
  VersionNode root;
  if (!ParseNode(record, 0, record.size(), 0, &root) || root.value.size() != 52 ||
      LoadU32(root.value.data()) != kFixedInfoSignature) {
    *error = "not a version record";
    return false;
  }
  info->fileVersion = uint64_t(LoadU32(&root.value[8])) << 32 | LoadU32(&root.value[12]);
  info->productVersion = uint64_t(LoadU32(&root.value[16])) << 32 | LoadU32(&root.value[20]);
  info->strings.clear();
  if (VersionNode* sfi = Child(root, "StringFileInfo"); sfi && !sfi->children.empty())
    for (const VersionNode& s : sfi->children[0].children)
      info->strings.emplace_back(std::string(s.key.begin(), s.key.end()), Utf8Of(s.value));
  return true;
}

}  // namespace tvk::pe
