// tvk u and d: an archive rewritten with entries added, replaced or taken
// out. The new archive is written under a temporary name beside the old
// one and takes its place only when it is whole and on disk, so that a
// failure at any point leaves the old archive as it was.
#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "archive/blocks.h"
#include "archive/format.h"
#include "common/bytes.h"
#include "crypto/crc32.h"
#include "platform/result_codes.h"
#include "tools/tvk/add_items.h"
#include "tools/tvk/archive_file.h"
#include "tools/tvk/commands.h"
#include "tools/tvk/console.h"
#include "tools/tvk/os.h"
#include "tools/tvk/read_support.h"

namespace tvk::cli {
namespace {

// The archive as it stands, read once before anything is written.
struct Original {
  std::string path;
  os::FileInfo st;
  MainHeaderAt main;
  Bytes mainHead;     // the main header as stored
  Bytes commentHead;  // the archive comment as stored (enciphered with the heads)
  std::string typedPassword;  // as typed (UTF-8): handed to the reader
  std::string password;       // archive bytes: heads and entries
  std::vector<ListedEntry> entries;
  ArchiveInfo info{};

  bool Solid() const { return (main.flags & fmt::kArcSolid) != 0; }
  bool EncryptedHeads() const { return (main.flags & fmt::kArcEncryptedHeads) != 0; }
  // Args for the reader: the archive and its password.
  Args ReaderArgs() const {
    Args a;
    a.positional = {path};
    a.passwordGiven = !typedPassword.empty();
    a.password = typedPassword;
    return a;
  }
};

bool ReadAt(std::FILE* f, uint64_t offset, uint8_t* data, size_t n) {
  return os::SeekTo(f, offset) == 0 && std::fread(data, 1, n, f) == n;
}

// One head as stored at offset: its size field's bytes, or under encrypted
// heads the length prefix and the enciphered blocks. plain receives the
// deciphered head. False when the bytes are not there.
bool StoredHead(std::FILE* f, uint64_t offset, const std::string* password, Bytes* stored, Bytes* plain) {
  uint8_t prefix[2];
  if (!ReadAt(f, offset, prefix, 2)) return false;
  if (!password) {
    uint8_t common[fmt::kBlockHeadSize];
    if (!ReadAt(f, offset, common, sizeof common)) return false;
    const uint32_t size = LoadU16(common + 5);
    if (size < fmt::kBlockHeadSize) return false;
    stored->resize(size);
    if (!ReadAt(f, offset, stored->data(), size)) return false;
    *plain = *stored;
    return true;
  }
  const uint32_t length = LoadU16(prefix);
  if (length < fmt::kBlockHeadSize) return false;
  stored->resize(2 + length);
  if (!ReadAt(f, offset, stored->data(), stored->size())) return false;
  plain->assign(stored->begin() + 2, stored->end());
  plain->resize((length + 7) / 8 * 8);
  const uint32_t size = OpenEncryptedHead(password->c_str(), plain->data(), length);
  plain->resize(size);
  return size != 0;
}

// Reads what the rewrite keeps of the archive: refuses what it cannot
// rewrite, gets the password of encrypted heads, lists the entries. 0, or
// the exit code after saying why.
int OpenOriginal(const Args& args, const char* command, Original* o) {
  Console& con = Console::Get();
  o->path = args.positional[0];
  std::string error;
  if (!os::Stat(o->path, true, &o->st, &error)) {
    con.Error(o->path + ": " + error);
    return ExitCodeOf(kErrFileAccess);
  }
  if (!LocateMainHeader(o->path, &o->main, &error)) {
    con.Error(error);
    return ExitCodeOf(kErrNotArchive);
  }
  // A self-extractor carries its settings behind the archive; rewriting the
  // archive in place would cut them off.
  if (o->main.offset != 0) {
    con.Error(o->path + ": a self-extractor; change the archive it was built from and build it again "
                        "with tvk sfx");
    return kExitUsage;
  }
  if (o->main.flags & fmt::kArcMultiVolume) {
    con.Error(o->path + ": a volume set; tvk " + command + " rewrites single archives only (extract the "
                        "set and make it again with tvk a)");
    return kExitUsage;
  }
  if (o->EncryptedHeads()) {
    if (args.passwordGiven && !args.password.empty()) {
      o->typedPassword = args.password;
    } else {
      auto typed = con.AskSecret("Password for the archive " + o->path + ": ");
      if (!typed || typed->empty()) {
        con.Error("no password given");
        return kExitFile;
      }
      o->typedPassword = *typed;
    }
    o->password = PasswordBytes(o->typedPassword);
  } else if (args.passwordGiven && !args.password.empty()) {
    o->typedPassword = args.password;
    o->password = PasswordBytes(o->typedPassword);
  }

  std::FILE* f = os::OpenFile(o->path, "rb");
  if (!f) {
    con.Error(o->path + ": " + std::strerror(errno));
    return ExitCodeOf(kErrFileAccess);
  }
  Bytes plain;
  const std::string* headKey = o->EncryptedHeads() ? &o->password : nullptr;
  const auto sound = [&plain] { return LoadU16(plain.data()) == HeadCheckOf(plain.data(), plain.size()); };
  bool ok = StoredHead(f, o->main.offset, nullptr, &o->mainHead, &plain);
  if (ok && (o->main.flags & fmt::kArcComment)) {
    ok = StoredHead(f, o->main.offset + o->mainHead.size(), headKey, &o->commentHead, &plain) &&
         plain[2] == fmt::kTypeComment && sound();
  }
  // The password must open the heads before the reader is asked: the
  // reader would ask again on its own, and kept heads and new ones must
  // share one key.
  Bytes next;
  const bool opens = !ok || !headKey ||
                     (StoredHead(f, o->main.offset + o->mainHead.size() + o->commentHead.size(), headKey, &next,
                                 &plain) &&
                      sound());
  std::fclose(f);
  if (!ok || !opens) {
    con.Error(o->path + ": " + (!opens || headKey ? "wrong password, or the heads are damaged"
                                                  : "the archive comment is damaged"));
    return ExitCodeOf(headKey ? kErrBadPassword : kErrData);
  }

  std::string message;
  const uint32_t code = ListEntries(o->ReaderArgs(), {}, &o->entries, &o->info, &message);
  // A seal that does not hold is removed with the rest of the signature.
  if (code != kOk && code != kErrSignatureMismatch) {
    con.Error(o->path + ": " + (message.empty() ? ReaderMessage(code) : message));
    return ExitCodeOf(code);
  }
  return 0;
}

// What becomes of each entry of the original, in its order, and what is
// added behind them.
struct Plan {
  // Per entry: kept (nullptr), dropped (drop), or replaced by an input.
  std::vector<const AddItem*> replacement;
  std::vector<char> drop;
  std::vector<AddItem> added;
  bool Changes() const {
    if (!added.empty()) return true;
    for (size_t i = 0; i < drop.size(); ++i)
      if (drop[i] || replacement[i]) return true;
    return false;
  }
};

std::string WithoutSlash(std::string name) {
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  return name;
}

// A kept entry of an archive that is not solid: its heads and data stand
// on their own, so they are copied as stored (encrypted ones keep their
// encryption, heads their cipher under the same password).
AddItem CopiedEntry(std::FILE* source, const ListedEntry& entry, const std::string& archive) {
  AddItem item;
  item.stored = WithoutSlash(entry.name);
  item.folder = entry.folder;
  const uint64_t start = entry.blockPosition;
  const uint64_t length = entry.headTotal + entry.packed;
  item.copy = [source, start, length, archive](ArchiveWriter& writer, std::string* error) {
    constexpr uint64_t kChunk = 1 << 20;
    Bytes buffer;
    for (uint64_t done = 0; done < length;) {
      buffer.resize(static_cast<size_t>(std::min(kChunk, length - done)));
      if (Console::Get().Interrupted()) {
        *error = "cancelled";
        return false;
      }
      if (!ReadAt(source, start + done, buffer.data(), buffer.size())) {
        *error = "cannot read " + archive + ": " + (std::ferror(source) ? std::strerror(errno) : "it became shorter");
        return false;
      }
      if (!writer.AddRawBytes(buffer)) return false;
      done += buffer.size();
    }
    return true;
  };
  return item;
}

// A folder of the run's own beside the archive, removed with everything in
// it when the run ends.
class ScratchFolder {
 public:
  ~ScratchFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    // Extracted files may be read-only; their folder is not.
    std::filesystem::remove_all(std::filesystem::path(std::u8string(path_.begin(), path_.end())), ec);
  }
  bool Make(const std::string& beside, std::string* error) {
    std::string why;
    if (os::MakeUniqueFolder(beside + ".unpack.", &path_, &why)) return true;
    *error = "cannot create a scratch folder beside " + beside + ": " + why;
    return false;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The kept entries of a solid archive, unpacked into scratch so that they
// can be packed again: in a solid archive each entry continues the ones
// before it, and a copy would lose what it was packed against.
bool UnpackKept(const Original& o, const ScratchFolder& scratch) {
  Console& con = Console::Get();
  Args x = o.ReaderArgs();
  x.outputDir = scratch.Path();
  x.yes = true;
  // The password kept entries are packed again under is the one given: had
  // a second one been typed at a question, they would carry the wrong one.
  x.passwordOnly = true;
  const bool quiet = con.quiet;
  con.quiet = true;
  const int code = RunExtract(x);
  con.quiet = quiet;
  if (code != 0) {
    con.Error(o.path + ": cannot unpack the archive to pack it again; it was left as it was");
    return false;
  }
  return true;
}

AddItem UnpackedEntry(const ListedEntry& entry, const ScratchFolder& scratch, bool* found) {
  AddItem item;
  item.stored = WithoutSlash(entry.name);
  item.folder = entry.folder;
  item.diskPath = scratch.Path() + "/" + item.stored;
  item.encryption = entry.encryption;
  *found = os::Stat(item.diskPath, false, &item.st) && (item.st.kind == os::Kind::kFolder) == entry.folder;
  // A link came out as a link, and goes back in as one.
  if (*found && item.st.kind == os::Kind::kLink) {
    std::string target, error;
    *found = os::ReadLink(item.diskPath, &target, &error) && !target.empty() &&
             target.size() <= fmt::kMaxLinkTarget;
    if (!*found) target.clear();
    item.linkTarget = std::move(target);
  }
  return item;
}

// Makes the new archive from the plan and puts it in the original's place.
int Rewrite(const Original& o, const Plan& plan, const Args& args, const std::string& newPassword,
            const char* done) {
  Console& con = Console::Get();
  const bool solid = o.Solid() || args.solid;
  const bool repack = solid;

  std::FILE* source = os::OpenFile(o.path, "rb");
  if (!source) {
    con.Error(o.path + ": " + std::strerror(errno));
    return ExitCodeOf(kErrFileAccess);
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> closeSource(source, std::fclose);

  ScratchFolder scratch;
  std::vector<AddItem> items;
  std::string error;
  // Kept entries packed again keep their encryption, under the archive's
  // password.
  const std::string password = newPassword.empty() ? o.password : newPassword;
  if (repack) {
    bool anyKept = false, keptEncrypted = false;
    for (size_t i = 0; i < o.entries.size(); ++i) {
      const bool kept = !plan.drop[i] && !plan.replacement[i];
      anyKept = anyKept || kept;
      keptEncrypted = keptEncrypted || (kept && o.entries[i].encryption != 0);
    }
    if (keptEncrypted && password.empty()) {
      con.Error(o.path + ": its entries are encrypted; give their password with -p to pack them again");
      return kExitUsage;
    }
    if (anyKept && (!scratch.Make(o.path, &error) || !UnpackKept(o, scratch))) {
      if (!error.empty()) con.Error(error);
      return kExitFile;
    }
  }
  for (size_t i = 0; i < o.entries.size(); ++i) {
    if (plan.drop[i]) continue;
    if (plan.replacement[i]) {
      items.push_back(*plan.replacement[i]);
    } else if (repack) {
      bool found = false;
      items.push_back(UnpackedEntry(o.entries[i], scratch, &found));
      if (!found) {
        con.Error(o.path + ": " + Shown(o.entries[i].name) + " did not unpack; the archive was left as it was");
        return kExitFile;
      }
    } else {
      items.push_back(CopiedEntry(source, o.entries[i], o.path));
    }
  }
  items.insert(items.end(), plan.added.begin(), plan.added.end());

  ArchiveSpec shape;
  const uint16_t madeByWriter = fmt::kArcEncryptedHeads | fmt::kArcSolid | fmt::kArcMultiVolume |
                                fmt::kArcLastVolume | fmt::kArcSigned;
  shape.extraMainFlags = o.main.flags & ~madeByWriter;
  std::copy(o.mainHead.begin() + 12, o.mainHead.begin() + 25, shape.mainTail.begin());
  shape.solid = solid;
  shape.encryptHeads = o.EncryptedHeads();
  shape.headPassword = o.password;
  std::string signError;
  int signExit = kExitOk;
  if (!SignerFromArgs(args, &shape, &signError, &signExit)) return signExit;
  const int level = args.level.value_or(3);
  Packing packing(level, solid);
  ConfigurePacking(args, &packing);
  shape.packer = packing.Packer();

  // Created exclusively, so that no one else's file is taken for ours.
  std::string temporary;
  if (!os::MakeUniqueFile(o.path + ".new.", &temporary, &error)) {
    con.Error("cannot create a temporary file beside " + o.path + ": " + error + "; the archive was left as it was");
    return kExitFile;
  }
  FileOutput out(temporary, true);
  ArchiveWriter writer(shape, &out);
  // The comment as stored: under encrypted heads it is enciphered with the
  // same password the new heads get.
  bool ok = writer.Begin() && (o.commentHead.empty() || writer.AddRawBytes(o.commentHead));
  PackRun run;
  if (ok) {
    run = PackItems(items, args, temporary, password, packing, writer, out, signError, true);
    ok = !run.failed;
  } else {
    con.Error(writer.Error().empty() ? out.Error() : writer.Error());
  }
  // On disk before it replaces the original, with the original's mode.
  if (ok && !os::CommitFile(temporary, o.st.unixMode, &error)) {
    con.Error("cannot write " + temporary + ": " + error);
    ok = false;
  }
  if (ok && con.Interrupted()) {
    con.Error("cancelled");
    ok = false;
  }
  // Windows replaces no file that is still open; the kept entries are
  // copied by now.
  closeSource.reset();
  if (ok && !os::PutInPlace(temporary, o.path, &error)) {
    con.Error("cannot replace " + o.path + ": " + error);
    ok = false;
  }
  if (!ok) {
    os::RemoveFile(temporary);
    con.Error(o.path + " was left as it was");
    return kExitFile;
  }
  if ((o.main.flags & fmt::kArcSigned) && !shape.signer)
    con.Warn(o.path + ": the signature was removed; sign it again with tvk sign");
  std::string summary = o.path + ": " + done;
  if (repack) summary += " (solid: every entry packed again)";
  con.Info(summary);
  return kExitOk;
}

bool NeedsArchive(const Args& args, const char* command, size_t least, const char* what) {
  if (args.positional.size() >= least) return true;
  Console::Get().Error(std::string("tvk ") + command + " needs an archive" + what + " (tvk " + command +
                       " --help)");
  return false;
}

// Whether the file on disk differs from the entry: its size, or its
// modification time as the entry keeps it (to the 100 ns, or the DOS
// stamp's two seconds where the entry has only that).
bool Differs(const AddItem& input, const ListedEntry& entry) {
  if (input.folder || entry.folder) return input.folder != entry.folder;
  if (input.st.size != entry.size) return true;
  int64_t seconds = input.st.modifiedSeconds;
  uint32_t nanoseconds = input.st.modifiedNanoseconds;
  const std::optional<int64_t> epoch = SourceDateEpoch();
  if (epoch && seconds >= *epoch) seconds = *epoch, nanoseconds = 0;
  if (entry.hasExactTime) {
    const FileTime t = FileTimeFromUnix(seconds, nanoseconds);
    return t.low != entry.exactWriteTime.low || t.high != entry.exactWriteTime.high;
  }
  return DosTimeFromUnix(seconds) != entry.dosTime;
}

}  // namespace

int RunUpdate(const Args& args) {
  Console& con = Console::Get();
  if (!NeedsArchive(args, "u", 2, " and at least one file or folder")) return kExitUsage;
  if (args.aes128 && !args.passwordGiven) {
    con.Error("--aes128 needs a password (-p)");
    return kExitUsage;
  }
  Original o;
  if (int code = OpenOriginal(args, "u", &o)) return code;

  // New entries are encrypted when asked, and always under encrypted heads.
  std::string newPassword = o.EncryptedHeads() ? o.password : "";
  if (!o.EncryptedHeads() || args.passwordGiven) {
    Args pw = args;
    if (o.EncryptedHeads() && args.password.empty()) pw.password = o.typedPassword;
    int exitCode = kExitOk;
    if (!NewEntryPassword(pw, &newPassword, &exitCode)) return exitCode;
  }

  std::set<os::FileKey> skip = {o.st.key};
  std::vector<AddItem> inputs;
  int problems = 0;
  if (!CollectInputs({args.positional.begin() + 1, args.positional.end()}, args.excludes, skip, args.dereference, &inputs,
                     &problems))
    return kExitFile;
  // An input that cannot be read would take its entry's place with
  // nothing: the archive stays as it is.
  if (problems) {
    con.Error(o.path + " was left as it was");
    return kExitFile;
  }
  std::map<std::string, size_t> byName;
  for (size_t i = 0; i < o.entries.size(); ++i) byName.emplace(WithoutSlash(o.entries[i].name), i);

  Plan plan;
  plan.replacement.assign(o.entries.size(), nullptr);
  plan.drop.assign(o.entries.size(), 0);
  size_t replaced = 0;
  for (const AddItem& input : inputs) {
    auto it = byName.find(input.stored);
    if (it == byName.end()) {
      plan.added.push_back(input);
    } else if (Differs(input, o.entries[it->second])) {
      plan.replacement[it->second] = &input;
      ++replaced;
    }
  }
  if (!plan.Changes() && (o.Solid() || !args.solid)) {
    con.Info(o.path + ": nothing to update; the archive was left as it was");
    return kExitOk;
  }
  const std::string done = "updated " + std::to_string(replaced) + " and added " + std::to_string(plan.added.size()) +
                           (plan.added.size() == 1 ? " entry" : " entries");
  return Rewrite(o, plan, args, newPassword, done.c_str());
}

int RunDelete(const Args& args) {
  if (!NeedsArchive(args, "d", 2, " and at least one mask")) return kExitUsage;
  Original o;
  if (int code = OpenOriginal(args, "d", &o)) return code;
  const std::vector<std::string> masks(args.positional.begin() + 1, args.positional.end());
  Args selection = o.ReaderArgs();
  selection.excludes = args.excludes;
  std::vector<ListedEntry> selected;
  ArchiveInfo info{};
  std::string message;
  const uint32_t code = ListEntries(selection, masks, &selected, &info, &message);
  if (code != kOk && code != kErrSignatureMismatch) {
    Console::Get().Error(o.path + ": " + (message.empty() ? ReaderMessage(code) : message));
    return ExitCodeOf(code);
  }
  const bool allMatched = WarnUnmatched(masks, o.entries);
  std::set<uint64_t> doomed;
  for (const ListedEntry& e : selected) doomed.insert(e.blockPosition);
  Plan plan;
  plan.replacement.assign(o.entries.size(), nullptr);
  plan.drop.assign(o.entries.size(), 0);
  size_t count = 0;
  for (size_t i = 0; i < o.entries.size(); ++i) {
    plan.drop[i] = doomed.count(o.entries[i].blockPosition) ? 1 : 0;
    count += plan.drop[i];
  }
  if (count == 0) {
    Console::Get().Info(o.path + ": nothing to delete; the archive was left as it was");
    return kExitNoMatch;
  }
  const std::string done = "deleted " + std::to_string(count) + (count == 1 ? " entry" : " entries");
  const int result = Rewrite(o, plan, args, "", done.c_str());
  return result == kExitOk && !allMatched ? kExitNoMatch : result;
}

}  // namespace tvk::cli
