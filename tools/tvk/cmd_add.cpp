// tvk a: adds files and folders to a new archive.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/blocks.h"
#include "crypto/crc32.h"
#include "tools/tvk/add_items.h"
#include "tools/tvk/commands.h"
#include "tools/tvk/console.h"
#include "tools/tvk/os.h"
#include "tools/tvk/pack_ahead.h"
#include "tools/tvk/packing.h"
#include "tools/tvk/signer.h"
#include "writer/archive_text.h"
#include "writer/archive_writer.h"

namespace tvk::cli {
namespace {

// The reader keeps at most this many bytes of a name.
constexpr size_t kMaxStoredName = fmt::kMaxEntryName;
// Comment text that fits a comment head.
constexpr size_t kMaxCommentText = fmt::kMaxCommentHeadSize - fmt::kCommentHeadSize;
// Files above this size are read piece by piece: packed as a stream through
// a scratch file beside the archive, or stored.
constexpr uint64_t kInMemoryLimit = 256ull << 20;

// Tests make smaller files take the stream path (TVK_STREAM_ABOVE=bytes).
uint64_t InMemoryLimit() {
  static const uint64_t limit = [] {
    const char* v = std::getenv("TVK_STREAM_ABOVE");
    return v && *v ? std::strtoull(v, nullptr, 10) : kInMemoryLimit;
  }();
  return limit;
}
// Password bytes that a password prompt of the reader can carry.
constexpr size_t kMaxPassword = 249;

using Item = AddItem;

Item MakeItem(const std::string& diskPath, const std::string& stored, bool folder, const os::FileInfo& st) {
  Item item;
  item.diskPath = diskPath;
  item.stored = stored;
  item.folder = folder;
  item.st = st;
  return item;
}

struct Collector {
  std::vector<Item> items;
  std::set<os::FileKey> skip;  // the archive itself
  std::vector<std::string> excludes;        // masks as the reader matches them
  bool dereference = false;                 // -L: what links point to is stored
  int problems = 0;

  bool Excluded(const std::string& stored) const {
    if (excludes.empty() || stored.empty()) return false;
    for (const std::string& m : excludes)
      if (MaskMatches(m.c_str(), stored.c_str())) return true;
    return false;
  }

  void Problem(const std::string& message) {
    Console::Get().Error(message);
    ++problems;
  }

  void Add(const std::string& diskPath, const std::string& stored,
           std::vector<os::FileKey>& ancestors) {
    os::FileInfo st;
    std::string error;
    if (!os::Stat(diskPath, dereference, &st, &error)) {
      Problem("cannot read " + diskPath + ": " + error);
      return;
    }
    if (skip.count(st.key)) return;
    if (Excluded(stored)) return;
    if (st.kind == os::Kind::kLink) {
      AddLink(diskPath, stored, st);
    } else if (st.kind == os::Kind::kFolder) {
      // Only links lead back into a folder on the way, so only -L meets it
      // (and, on Windows, junctions).
      for (const auto& a : ancestors) {
        if (a == st.key) {
          Problem(diskPath + ": a folder loop, not packed again");
          return;
        }
      }
      if (!stored.empty()) items.push_back(MakeItem(diskPath, stored, true, st));
      std::vector<std::string> names;
      if (!os::ListFolder(diskPath, &names, &error)) {
        Problem("cannot read folder " + diskPath + ": " + error);
        return;
      }
      std::sort(names.begin(), names.end());
      ancestors.push_back(st.key);
      std::string prefix = diskPath.empty() || os::IsSeparator(diskPath.back()) ? diskPath : diskPath + "/";
      for (const std::string& n : names)
        Add(prefix + n, stored.empty() ? n : stored + "/" + n, ancestors);
      ancestors.pop_back();
    } else if (st.kind == os::Kind::kFile) {
      if (stored.empty()) {
        Problem("cannot store " + diskPath + " under an empty name");
        return;
      }
      items.push_back(MakeItem(diskPath, stored, false, st));
    } else {
      Problem("skipped " + diskPath + ": not a file or folder");
    }
  }

  // The target as the link holds it, whatever it points to (nothing, or
  // something outside the tree): extracting makes the same link again.
  void AddLink(const std::string& diskPath, const std::string& stored, const os::FileInfo& st) {
    if (stored.empty()) {
      Problem("cannot store " + diskPath + " under an empty name");
      return;
    }
    std::string target, error;
    if (!os::ReadLink(diskPath, &target, &error)) {
      Problem("cannot read the link " + diskPath + ": " + error);
      return;
    }
    if (target.empty() || target.size() > fmt::kMaxLinkTarget) {
      Problem("skipped " + diskPath + ": its target is longer than " + std::to_string(fmt::kMaxLinkTarget) +
              " bytes");
      return;
    }
    Item item = MakeItem(diskPath, stored, false, st);
    item.linkTarget = std::move(target);
    items.push_back(std::move(item));
  }

  // Paths given twice (a folder and a file inside it, or "a" and "./a") name
  // the same things again: kept once. Two different files that would be
  // stored under one name are refused, since one would hide the other in
  // every reader. False after saying so.
  bool DropRepeats() {
    std::map<std::string, size_t> seen;
    std::vector<Item> kept;
    bool clash = false;
    for (Item& item : items) {
      auto [it, fresh] = seen.emplace(item.stored, kept.size());
      if (fresh) {
        kept.push_back(std::move(item));
        continue;
      }
      const Item& first = kept[it->second];
      const bool same = first.folder == item.folder &&
                        (item.folder || first.st.key == item.st.key);
      if (same) continue;
      Console::Get().Error(first.diskPath + " and " + item.diskPath + " would both be stored as " +
                           item.stored + "; add them from folders that keep them apart");
      clash = true;
    }
    items = std::move(kept);
    return !clash;
  }
};

// The stored form of a path given on the command line: relative, without a
// leading root (or Windows drive) and without "." and ".." components.
std::string StoredBase(const std::string& given) {
  const std::string path = os::WithoutDrive(given);
  std::string out;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = i;
    while (j < path.size() && !os::IsSeparator(path[j])) ++j;
    std::string part = path.substr(i, j - i);
    if (!part.empty() && part != "." && part != "..") out += (out.empty() ? "" : "/") + part;
    i = j + 1;
  }
  return out;
}

bool ReadWhole(const std::string& path, Bytes* data, std::string* error) {
  std::FILE* f = os::OpenFile(path, "rb");
  if (!f) {
    *error = std::strerror(errno);
    return false;
  }
  data->clear();
  uint8_t buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data->insert(data->end(), buffer, buffer + n);
  bool ok = !std::ferror(f);
  if (!ok) *error = std::strerror(errno);
  std::fclose(f);
  return ok;
}

// The CRC register over a file, read in pieces, and its length.
bool CrcOfFile(const std::string& path, uint32_t* crc, uint64_t* size, std::string* error) {
  std::FILE* f = os::OpenFile(path, "rb");
  if (!f) {
    *error = std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> buffer(1 << 20);
  uint32_t reg = EntryCrc(nullptr, 0);
  uint64_t total = 0;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
    if (Console::Get().Interrupted()) {
      std::fclose(f);
      *error = "cancelled";
      return false;
    }
    reg = Crc32(reg, buffer.data(), n);
    total += n;
  }
  bool ok = !std::ferror(f);
  if (!ok) *error = std::strerror(errno);
  std::fclose(f);
  *crc = reg;
  *size = total;
  return ok;
}

// A file too large for memory, packed as a stream into a scratch file beside
// the archive (removed at once, so it never outlives the run), checked, and
// copied into the archive; stored when packing does not pay.
bool AddPackedStream(const std::string& archive, const Item& item, EntrySpec& e, uint64_t size, uint32_t crc,
                     Packing& packing, ArchiveWriter& writer,
                     const std::function<bool(uint64_t, uint8_t*, size_t)>& readFile, bool* showRead,
                     std::string* error) {
  std::string tmpError;
  auto tmpFailed = [&](const char* what) {
    if (tmpError.empty()) {
      tmpError = std::string("cannot ") + what + " a scratch file beside " + archive + ": " + std::strerror(errno);
    }
    return false;
  };
  std::string openError;
  std::FILE* tmp = os::OpenScratchFile(archive + ".packing.", &openError);
  if (!tmp) {
    *error = "cannot create a scratch file beside " + archive + ": " + openError;
    return false;
  }
  Packing::StreamRequest request;
  request.name = item.stored;
  request.size = size;
  request.crc = crc;
  request.method = e.method;
  request.dictCode = e.dictCode;
  request.solid = e.solid;
  request.read = readFile;
  request.restart = [&] { return os::EmptyFile(tmp) || tmpFailed("empty"); };
  request.write = [&](const uint8_t* p, size_t n) { return std::fwrite(p, 1, n, tmp) == n || tmpFailed("write"); };
  auto readTmp = [&](uint64_t offset, uint8_t* dest, size_t n) {
    return (std::fflush(tmp) == 0 && os::SeekTo(tmp, offset) == 0 &&
            std::fread(dest, 1, n, tmp) == n) ||
           tmpFailed("read");
  };
  request.readPacked = readTmp;
  Packing::StreamResult result;
  std::string packError;
  bool ok = packing.PackStream(request, &result, &packError);
  if (!ok) {
    // A read of the file has said why already (error is readFile's).
    if (error->empty()) *error = !tmpError.empty() ? tmpError : item.diskPath + ": " + packError;
  } else if (result.method == fmt::kMethodStored) {
    e.method = fmt::kMethodStored;
    e.dictCode = 0;
    e.solid = false;
    *showRead = false;
    ok = writer.AddStoredEntry(e, size, crc, readFile);
  } else {
    e.method = result.method;
    e.solid = result.solid;
    *showRead = false;
    ok = writer.AddStreamedEntry(e, result.method, result.filterByte, size, crc, result.packedSize, readTmp);
    if (!ok && !tmpError.empty()) *error = tmpError;
  }
  std::fclose(tmp);
  return ok;
}

bool AskNewPassword(std::string* password) {
  Console& c = Console::Get();
  auto first = c.AskSecret("Password: ");
  if (!first) return false;
  if (c.InputIsTerminal()) {
    auto again = c.AskSecret("Password again: ");
    if (!again || *again != *first) {
      c.Error("the passwords differ");
      return false;
    }
  }
  *password = *first;
  return true;
}

// The comment in the archive's text forms: Windows-1252 when possible, else
// UTF-16LE (lossless for any text), else the bytes as they are.
std::optional<CommentFields> MakeComment(const std::string& text) {
  CommentFields c;
  std::string ansi;
  if (Utf8ToWindows1252(text, &ansi)) {
    c.text.assign(ansi.begin(), ansi.end());
  } else {
    Bytes wide = Utf8ToUtf16Le(text);
    bool validUtf8 = true;
    for (size_t i = 0; i + 1 < wide.size(); i += 2)
      if (wide[i] == 0xFD && wide[i + 1] == 0xFF) validUtf8 = false;
    if (validUtf8) {
      c.form = TextForm::kUtf16;
      c.text = std::move(wide);
    } else {
      c.text.assign(text.begin(), text.end());
    }
  }
  if (c.text.size() > kMaxCommentText) return std::nullopt;
  return c;
}

}  // namespace

std::string PasswordBytes(const std::string& typed) {
  bool fellBack = false;
  std::string bytes = ArchiveText(typed, &fellBack);
  if (fellBack)
    Console::Get().Warn("the password has characters outside Windows-1252; its UTF-8 bytes are used");
  return bytes;
}

bool NewEntryPassword(const Args& args, std::string* password, int* exitCode) {
  Console& con = Console::Get();
  password->clear();
  if (!args.passwordGiven) return true;
  std::string typed = args.password;
  if (typed.empty() && !AskNewPassword(&typed)) {
    con.Error("no password given");
    *exitCode = kExitFile;
    return false;
  }
  if (typed.empty()) {
    con.Error("an empty password protects nothing");
    *exitCode = kExitUsage;
    return false;
  }
  *password = PasswordBytes(typed);
  if (password->size() > kMaxPassword) {
    con.Error("the password is longer than 249 bytes");
    *exitCode = kExitUsage;
    return false;
  }
  return true;
}

bool SignerFromArgs(const Args& args, ArchiveSpec* shape, std::string* signError, int* exitCode) {
  if (!args.signKey && !args.cert) return true;
  SignerSetup setup;
  bool usage = false;
  if (!LoadSigner(args, &setup, signError, &usage)) {
    Console::Get().Error(*signError);
    *exitCode = usage ? kExitUsage : kExitFile;
    return false;
  }
  shape->signer = MakeArchiveSigner(setup, signError);
  return true;
}

void ConfigurePacking(const Args& args, Packing* packing) {
  packing->SetVerify(!args.noVerify);
  packing->SetNotice([](const std::string& message) { Console::Get().Alert(message); });
}

bool CollectInputs(const std::vector<std::string>& paths, const std::vector<std::string>& excludes,
                   const std::set<os::FileKey>& skip, bool dereference,
                   std::vector<AddItem>* items, int* problems) {
  Collector collector;
  collector.skip = skip;
  collector.excludes = excludes;
  collector.dereference = dereference;
  for (const std::string& path : paths) {
    std::vector<os::FileKey> ancestors;
    collector.Add(path, StoredBase(path), ancestors);
  }
  const bool apart = collector.DropRepeats();
  *items = std::move(collector.items);
  *problems = collector.problems;
  return apart;
}

PackRun PackItems(const std::vector<AddItem>& items, const Args& args, const std::string& archive,
                  const std::string& password, Packing& packing, ArchiveWriter& writer, FileOutput& out,
                  const std::string& signError, bool allOrNothing) {
  uint64_t total = 0;
  for (const Item& item : items)
    if (!item.folder) total += item.st.size;

  // A non-solid archive packs its files side by side: each entry starts
  // afresh, so the bytes are those of one thread. Files too large to hold
  // several of in memory keep to the writer's thread.
  constexpr uint64_t kAheadFileLimit = uint64_t(32) << 20;
  constexpr uint64_t kPackMemory = uint64_t(1) << 30;
  const unsigned threads = args.threads.value_or(DefaultPackThreads());
  std::unique_ptr<PackAhead> ahead;
  std::vector<char> goesAhead(items.size(), 0);
  if (!packing.Solid() && packing.Level() > 0 && threads > 1) {
    std::vector<PackAhead::File> files;
    for (size_t i = 0; i < items.size(); ++i) {
      const Item& item = items[i];
      const uint64_t size = item.st.size;
      if (item.copy || item.folder || item.linkTarget || size > kAheadFileLimit || size > InMemoryLimit()) continue;
      const uint8_t method = packing.MethodFor(size);
      if (method == fmt::kMethodStored) continue;
      files.push_back(PackAhead::File{i, item.diskPath, item.stored, method, packing.DictCodeFor(method)});
      goesAhead[i] = 1;
    }
    if (files.size() > 1) {
      // A worker holds a few hundred megabytes on large files: past what
      // fits in the memory tvk keeps to, more processors get no worker.
      // What is left after the files read ahead also holds the writer.
      const unsigned workers =
          PackWorkersWithin(packing.Level(), threads, kPackMemory - 3 * kAheadFileLimit - (uint64_t(64) << 20));
      ahead = std::make_unique<PackAhead>(std::move(files), ReadWhole, packing.Level(), !args.noVerify, workers,
                                          3 * kAheadFileLimit);
    } else {
      std::fill(goesAhead.begin(), goesAhead.end(), 0);
    }
  }
  // Where the files do not take the processors, the writer's own entries
  // do: the best level's tree walks run beside its parse.
  packing.SetFinderThread(threads > 1 && !ahead);

  Console& con = Console::Get();
  con.CatchInterrupt();
  con.StartWork(total);
  bool warnedUtf8 = false;
  const std::optional<int64_t> epoch = SourceDateEpoch();
  uint64_t done = 0;
  uint32_t files = 0, folders = 0;
  int problems = 0;
  bool failed = false;
  std::optional<PackAhead::Done> packedAhead;
  for (size_t index = 0; index < items.size(); ++index) {
    const Item& item = items[index];
    packedAhead.reset();
    if (con.Interrupted()) {
      con.Error("cancelled");
      failed = true;
      break;
    }
    if (item.copy) {
      std::string copyError;
      if (!item.copy(writer, &copyError)) {
        con.Error(!copyError.empty() ? copyError : writer.Error().empty() ? out.Error() : writer.Error());
        failed = true;
        break;
      }
      item.folder ? ++folders : ++files;
      continue;
    }
    std::string stored = item.stored;
    std::replace(stored.begin(), stored.end(), '/', '\\');
    bool fellBack = false;
    stored = ArchiveText(stored, &fellBack);
    if (fellBack && !warnedUtf8) {
      con.Warn("some names have characters outside Windows-1252; they are stored in UTF-8 (" +
               item.stored + ")");
      warnedUtf8 = true;
    }
    if (stored.size() > kMaxStoredName) {
      con.Error("skipped " + item.diskPath + ": its name is longer than 270 bytes");
      ++problems;
      if (!allOrNothing) continue;
      failed = true;
      break;
    }
    EntrySpec e;
    e.name = stored;
    e.folder = item.folder;
    Bytes data;
    uint64_t size = 0;
    uint32_t crc = 0;
    // Stored files, and files too large to pack in memory, are copied piece
    // by piece.
    bool streamed = false;
    if (item.folder) {
      // Never read-only: the folder must take its files when extracted.
      e.attributes = kAttrDirectory;
    } else {
      const bool link = item.linkTarget.has_value();
      size = item.st.size;
      streamed = !link && (packing.MethodFor(size) == fmt::kMethodStored || size > InMemoryLimit());
      std::string error;
      if (link) {
        data.assign(item.linkTarget->begin(), item.linkTarget->end());
      } else if (!streamed && goesAhead[index]) {
        packedAhead = ahead->Take(index);
        for (const std::string& notice : packedAhead->notices) con.Alert(notice);
        error = packedAhead->error;
        data = std::move(packedAhead->data);
      }
      if (!link && (packedAhead ? !packedAhead->ok
                                : streamed ? !CrcOfFile(item.diskPath, &crc, &size, &error)
                                           : !ReadWhole(item.diskPath, &data, &error))) {
        con.Error("cannot read " + item.diskPath + ": " + error);
        ++problems;
        if (!allOrNothing) continue;
        failed = true;
        break;
      }
      if (!streamed) size = data.size();
      e.attributes = kAttrArchive | (item.st.writable ? 0 : kAttrReadOnly);
      int64_t seconds = item.st.modifiedSeconds;
      uint32_t nanoseconds = item.st.modifiedNanoseconds;
      if (epoch && seconds >= *epoch) seconds = *epoch, nanoseconds = 0;
      e.dosTime = DosTimeFromUnix(seconds);
      const FileTime write = FileTimeFromUnix(seconds, nanoseconds);
      // Linux keeps no creation time here, and the access time is the one
      // reading the file for this archive changes, so that two runs over
      // the same files would differ: the modification time stands in.
      e.times = std::array<FileTime, 3>{write, write, write};
      // A link keeps its type bits, and its target stays as it is, so
      // that a listing reads it without decoding.
      // Windows has no such bits, and its entries carry none.
      if (item.st.unixMode) e.unixMode = item.st.unixMode & (link ? fmt::kUnixTypeMask | 07777 : 07777);
      e.method = link ? fmt::kMethodStored : packing.MethodFor(size);
      e.dictCode = packing.DictCodeFor(e.method);
      e.solid = packing.SolidFor(e.method);
      e.encryption = item.encryption.value_or(password.empty() ? 0 : args.aes128 ? 1 : 2);
      if (e.encryption) e.password = password;
    }
    con.Progress(item.stored, done);
    bool added;
    std::string readError;
    if (streamed) {
      std::FILE* f = os::OpenFile(item.diskPath, "rb");
      // Reading shows progress: the packing pass for a packed file, the
      // copy for a stored one.
      bool showRead = true;
      auto readFile = [&](uint64_t offset, uint8_t* buffer, size_t n) {
        if (con.Interrupted()) {
          readError = "cancelled";
          return false;
        }
        if (os::SeekTo(f, offset) != 0 || std::fread(buffer, 1, n, f) != n) {
          readError = "cannot read " + item.diskPath + (std::ferror(f) ? ": " + std::string(std::strerror(errno))
                                                                      : ": it became shorter");
          return false;
        }
        if (showRead) con.Progress(item.stored, done + offset + n);
        return true;
      };
      if (!f) {
        added = false;
        readError = "cannot read " + item.diskPath + ": " + std::strerror(errno);
      } else if (e.method != fmt::kMethodStored) {
        added = AddPackedStream(archive, item, e, size, crc, packing, writer, readFile, &showRead, &readError);
      } else {
        added = writer.AddStoredEntry(e, size, crc, readFile);
      }
      if (f) std::fclose(f);
    } else if (packedAhead && !packedAhead->handBack) {
      PackResult& r = packedAhead->packed;
      if (r.method == fmt::kMethodStored) {
        e.method = fmt::kMethodStored;
        e.dictCode = 0;
      } else {
        e.method = r.method;
        e.filter = r.filterByte;
        e.packed = std::move(r.packed);
        e.crc = r.crc;
      }
      added = writer.AddEntry(e, data);
    } else {
      added = writer.AddEntry(e, data);
    }
    if (!added) {
      con.Error(!readError.empty() ? readError : writer.Error().empty() ? out.Error() : writer.Error());
      failed = true;
      break;
    }
    if (item.folder) {
      ++folders;
    } else {
      ++files;
      done += size;
      con.Progress(item.stored, done);
    }
  }
  if (!failed && !writer.Finish()) {
    std::string why = !signError.empty() ? signError : out.Error();
    con.Error(writer.Error() + (why.empty() ? "" : " (" + why + ")"));
    failed = true;
  }
  con.EndWork();
  if (failed) out.RemoveAll();
  return PackRun{files, folders, total, problems, failed};
}

int RunAdd(const Args& args) {
  Console& con = Console::Get();
  if (args.positional.size() < 2) {
    con.Error("tvk a needs an archive and at least one file or folder (tvk a --help)");
    return kExitUsage;
  }
  if (args.encryptHeaders && !args.passwordGiven) {
    con.Error("--encrypt-headers needs a password (-p)");
    return kExitUsage;
  }
  if (args.aes128 && !args.passwordGiven) {
    con.Error("--aes128 needs a password (-p)");
    return kExitUsage;
  }
  if (args.comment && args.commentFile) {
    con.Error("give the comment either with -c or with -z");
    return kExitUsage;
  }
  const std::string archive = args.positional[0];

  os::FileInfo ast;
  bool exists = os::Stat(archive, true, &ast);
  if (exists && !args.force) {
    con.Error(archive + " exists (use -f to replace it)");
    return kExitFile;
  }

  std::string password;
  int passwordExit = kExitOk;
  if (!NewEntryPassword(args, &password, &passwordExit)) return passwordExit;

  ArchiveSpec shape;
  if (args.comment || args.commentFile) {
    std::string text;
    if (args.comment) {
      text = *args.comment;
    } else {
      Bytes raw;
      std::string error;
      if (!ReadWhole(*args.commentFile, &raw, &error)) {
        con.Error("cannot read " + *args.commentFile + ": " + error);
        return kExitFile;
      }
      text.assign(raw.begin(), raw.end());
    }
    shape.comment = MakeComment(text);
    if (!shape.comment) {
      con.Error("the comment is too long (at most 8179 bytes in the archive)");
      return kExitFile;
    }
  }
  shape.solid = args.solid;
  shape.encryptHeads = args.encryptHeaders;
  shape.headPassword = password;
  if (args.volumeSize) {
    if (*args.volumeSize < 1024) {
      con.Error("volumes must hold at least 1 KiB");
      return kExitUsage;
    }
    shape.volumeSize = *args.volumeSize;
  }
  std::string signError;
  int signExit = kExitOk;
  if (!SignerFromArgs(args, &shape, &signError, &signExit)) return signExit;
  const int level = args.level.value_or(3);
  Packing packing(level, shape.solid);
  ConfigurePacking(args, &packing);
  shape.packer = packing.Packer();

  // What to store.
  std::set<os::FileKey> skip;
  if (exists) {
    skip.insert(ast.key);
    for (uint32_t n = 1; n < 1000; ++n) {
      os::FileInfo vst;
      if (!os::Stat(VolumeName(archive, n), true, &vst)) break;
      skip.insert(vst.key);
    }
  }
  std::vector<Item> items;
  int problems = 0;
  if (!CollectInputs({args.positional.begin() + 1, args.positional.end()}, args.excludes, skip, args.dereference, &items,
                     &problems))
    return kExitFile;
  if (items.empty()) {
    con.Error("nothing to add");
    return kExitFile;
  }
  if (shape.solid && level > 0) {
    // Folders keep their place ahead of the files; files of a kind group.
    std::vector<std::pair<std::string, Item>> keyed;
    for (Item& item : items)
      keyed.emplace_back(item.folder ? std::string() : Packing::SolidOrderKey(item.stored), std::move(item));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
      if (a.second.folder != b.second.folder) return a.second.folder;
      return a.first < b.first;
    });
    items.clear();
    for (auto& k : keyed) items.push_back(std::move(k.second));
  }

  FileOutput out(archive, args.force);
  ArchiveWriter writer(shape, &out);
  const PackRun run = PackItems(items, args, archive, password, packing, writer, out, signError);
  if (run.failed) return kExitFile;
  std::string summary = "added " + std::to_string(run.files) + (run.files == 1 ? " file" : " files");
  if (run.folders)
    summary += " and " + std::to_string(run.folders) + (run.folders == 1 ? " folder" : " folders");
  summary += " (" + HumanSize(run.total) + ") to " + archive;
  if (writer.VolumeCount() > 1) summary += " in " + std::to_string(writer.VolumeCount()) + " volumes";
  con.Info(summary);
  return problems || run.problems ? kExitFile : kExitOk;
}

}  // namespace tvk::cli
