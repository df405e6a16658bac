// tvk l, t and x: the reader of the self-extractor, driven through its
// callbacks with console prompts.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>

#include "archive/blocks.h"
#include "archive/format.h"
#include "archive/reader.h"
#include "platform/result_codes.h"
#include "tools/tvk/archive_file.h"
#include "tools/tvk/commands.h"
#include "tools/tvk/console.h"
#include "tools/tvk/os.h"
#include "tools/tvk/read_support.h"

namespace tvk::cli {
namespace {

struct Session {
  std::string archive;           // as given on the command line
  std::string password;          // archive bytes of the password handed out
  bool havePassword = false;
  bool passwordOnly = false;     // a wrong password fails rather than asking
  bool overwriteAll = false;
  bool skipAll = false;          // -n, or "skip all" answered
  // Exact write times of the entries by display name: the overwrite
  // question would otherwise show the two-second stamp against the file's
  // exact time and make identical files look different.
  std::map<std::string, FileTime> exactTimes;
  std::string action;            // "Extracting", "Testing"
  std::string current;           // entry being worked on (display form)
  uint64_t done = 0;
  bool interruptedReported = false;
  // Damaged entries do not end the run: each is named as it is met and
  // counted for the summary.
  ArchiveReader* reader = nullptr;
  uint32_t damaged = 0;
  // Outputs that were there before the run (display form): a damaged
  // entry's file is taken away only when the run made it.
  std::set<std::string> existedBefore;
  bool extracting = false;
};

Session* From(void* user) { return static_cast<Session*>(user); }

int AnswerPassword(Session* s, const char* triedLast, char* answer, const std::string& prompt) {
  Console& con = Console::Get();
  if (con.Interrupted()) return 0;
  // The password in hand serves every question until it is the one that
  // has just failed; then the user is asked.
  if (!s->havePassword || s->password == (triedLast ? triedLast : "")) {
    if (s->passwordOnly) return 0;
    auto typed = con.AskSecret(prompt);
    if (!typed) return 0;
    s->password = PasswordBytes(*typed);
    s->havePassword = true;
  }
  std::memset(answer, 0, kPasswordAnswerSize);
  std::memcpy(answer, s->password.data(), std::min<size_t>(s->password.size(), kPasswordAnswerSize - 1));
  return 1;
}

int OnEntryPassword(void* user, const char* triedLast, char* answer, const char* name) {
  std::string prompt = "Password for " + ShownPath(name ? name : "") + ": ";
  if (triedLast && *triedLast) prompt = "Wrong password? " + prompt;
  return AnswerPassword(From(user), triedLast, answer, prompt);
}

int OnHeaderPassword(void* user, const char* triedLast, char* answer, const char* name) {
  std::string prompt = "Password for the archive " + ShownPath(name ? name : "") + ": ";
  if (triedLast && *triedLast) prompt = "Wrong password? " + prompt;
  return AnswerPassword(From(user), triedLast, answer, prompt);
}

int OnEntryStart(void* user, const char* entryName, const char*) {
  Session* s = From(user);
  if (Console::Get().Interrupted()) return 0;
  std::string name = ShownPath(entryName && *entryName == '\\' ? entryName + 1 : entryName);
  s->current = name;
  if (!s->action.empty()) Console::Get().Info(s->action + " " + name);
  return 1;
}

int OnProgress(void* user, uint32_t, uint32_t chunk) {
  Session* s = From(user);
  Console& con = Console::Get();
  if (con.Interrupted()) return 0;
  s->done += chunk;
  con.Progress(s->current, s->done);
  return 1;
}

int OnOverwrite(void* user, const FindData* existing, const FindData* entry) {
  Session* s = From(user);
  Console& con = Console::Get();
  if (con.Interrupted()) return kOverwriteCancel;
  if (s->overwriteAll) return kOverwriteReplace;
  if (s->skipAll) return kOverwriteSkip;
  const auto describe = [](const FindData* f, const FileTime* exact) {
    uint64_t size = uint64_t(f->sizeHigh) << 32 | f->sizeLow;
    return std::to_string(size) + " bytes, " + FormatFileTime(exact ? *exact : f->lastWriteTime);
  };
  const auto known = s->exactTimes.find(s->current);
  const FileTime* exact = known == s->exactTimes.end() ? nullptr : &known->second;
  // The path below the target, as the entry is named: the base name alone
  // does not say which of several files of that name is meant.
  const std::string shown = s->current.empty() ? ShownPath(existing->name) : s->current;
  for (;;) {
    auto answer = con.Ask("Replace " + shown + " (" + describe(existing, nullptr) + ") with the archive's (" +
                          describe(entry, exact) + ")? [y]es, [n]o, [a]ll, [s]kip all, [c]ancel: ");
    if (!answer) return kOverwriteCancel;
    std::string a = *answer;
    std::transform(a.begin(), a.end(), a.begin(), [](unsigned char c) { return std::tolower(c); });
    if (a == "y" || a == "yes") return kOverwriteReplace;
    if (a == "n" || a == "no") return kOverwriteSkip;
    if (a == "a" || a == "all") {
      s->overwriteAll = true;
      return kOverwriteReplace;
    }
    if (a == "s" || a == "skip all") {
      s->skipAll = true;
      return kOverwriteSkip;
    }
    if (a == "c" || a == "cancel") return kOverwriteCancel;
  }
}

bool IsDamage(uint32_t code) {
  return code == kErrCrc || code == kErrData || code == kErrMethod || code == kErrVersion;
}

int OnEntryDone(void* user, const FileEntry*, const char* outputPath) {
  Session* s = From(user);
  const uint32_t code = s->reader ? s->reader->LastError() : kOk;
  if (IsDamage(code)) {
    ++s->damaged;
    Console::Get().Error(s->current + ": " + ReaderMessage(code));
    // The reader keeps what it could of a file that was not there before,
    // for hosts that want it; tvk leaves no damaged file behind.
    // (A test writes nothing: the path it is handed is no file of its.)
    const std::string path = outputPath ? os::FromReaderText(DisplayPath(outputPath)) : "";
    if (s->extracting && !path.empty() && !s->existedBefore.count(path)) os::RemoveFile(path);
  }
  return 1;
}

int OnNextVolume(void*, char* path, uint32_t, uint32_t volume, uint32_t) {
  Console& con = Console::Get();
  if (con.Interrupted()) return 0;
  std::string expected = path;
  std::string folder = expected.substr(0, expected.find_last_of('\\') + 1);
  auto answer = con.Ask("Volume " + std::to_string(volume) + " is missing: " + ShownPath(expected) +
                        "\nFolder to look in (an empty line looks again in " +
                        ShownPath(folder.empty() ? "." : folder) + "): ");
  if (!answer) return 0;
  std::string chosen = folder;
  if (!answer->empty() && !os::ToReaderText(InternalPath(*answer), &chosen)) {
    con.Error("the folder name cannot be given to the reader in this system's code page");
    return 0;
  }
  if (chosen.size() >= kPathSize) {
    con.Error("the folder name is too long");
    return 0;
  }
  std::memset(path, 0, kPathSize);
  std::memcpy(path, chosen.data(), chosen.size());
  return 1;
}

ReaderCallbacks MakeCallbacks(Session* s, bool listing) {
  ReaderCallbacks cb{};
  cb.entryPassword = OnEntryPassword;
  cb.entryPasswordUser = s;
  cb.headerPassword = OnHeaderPassword;
  cb.headerPasswordUser = s;
  cb.progress = OnProgress;
  cb.progressUser = s;
  if (!listing) {
    cb.entryDone = OnEntryDone;
    cb.entryDoneUser = s;
    cb.entryStart = OnEntryStart;
    cb.entryStartUser = s;
    cb.overwrite = OnOverwrite;
    cb.overwriteUser = s;
    cb.nextVolume = OnNextVolume;
    cb.nextVolumeUser = s;
  }
  return cb;
}

// Ends a command: the message of the reader's code (or the one given) and
// the exit code.
int Finish(const Session& s, uint32_t code, const std::string& message = "") {
  Console& con = Console::Get();
  con.EndWork();
  if (code == kOk) return 0;
  std::string where = s.current.empty() ? "" : " (" + s.current + ")";
  con.Error(Shown(s.archive) + ": " + (message.empty() ? ReaderMessage(code) : message) + where);
  return ExitCodeOf(code);
}


// Whether the archive's main header says it is signed.
bool ClaimsSignature(const std::string& path) {
  MainHeaderAt at;
  std::string error;
  return LocateMainHeader(path, &at, &error) && (at.flags & fmt::kArcSigned) != 0;
}

// 1195 -> "1,195".
std::string Thousands(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// Why the archive file itself cannot be read, in the system's words, with
// the code to end on; empty when it opens as a file. A folder is not taken
// for an empty archive.
std::string ArchiveFileProblem(const std::string& path, uint32_t* code) {
  os::FileInfo st;
  std::string error;
  bool missing = false;
  if (!os::Stat(path, true, &st, &error, &missing)) {
    *code = kErrFileAccess;
    return missing ? "no such file" : "cannot open it: " + error;
  }
  if (st.kind == os::Kind::kFolder) {
    *code = kErrNotArchive;
    return "a folder, not an archive";
  }
  std::FILE* f = os::OpenFile(path, "rb");
  if (!f) {
    *code = kErrFileAccess;
    return "cannot open it: " + os::ErrorText();
  }
  std::fclose(f);
  return "";
}

// Why an output under the target cannot be made, in the system's words,
// found by asking the nearest thing on its way that exists; empty when
// nothing on the way refuses (the failure was then not the output's).
std::string OutputProblem(const std::string& target, const std::string& entry) {
  std::string path = target;
  if (!entry.empty()) path += (path.empty() || path.back() == '/' ? "" : "/") + entry;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::string on = path;
  os::FileInfo st;
  while (!os::Stat(on, false, &st)) {
    const size_t slash = on.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "";
    on.resize(slash);
  }
  const bool folder = st.kind == os::Kind::kFolder;
  if (on != path && !folder) return "cannot create " + path + ": " + on + " is not a folder";
  std::string error;
  if (!os::MayWrite(on, folder, &error)) return "cannot create " + path + ": " + error;
  return "";
}

// The archive opened as a file, yet its heads could not be read to the
// end: it is cut short or damaged, not a file the system refused.
uint32_t OpenFailure(const Session& s, uint32_t code, std::string* message) {
  if (code != kErrFileAccess) return code;
  uint32_t ignored = 0;
  if (!ArchiveFileProblem(s.archive, &ignored).empty()) return code;
  *message = "its heads cannot be read to their end: the archive is damaged or cut short";
  return kErrData;
}

// A mask in the reader's text; one the system's code page cannot spell
// stays as typed and matches the names the archive holds in UTF-8.
std::string ReaderName(const std::string& mask) {
  std::string text;
  return os::ToReaderText(InternalPath(mask), &text) ? text : InternalPath(mask);
}

// Opens the archive in the reader; answers the reader's error code.
uint32_t OpenArchive(ArchiveReader& reader, Session& s, bool listing) {
  ReaderCallbacks cb = MakeCallbacks(&s, listing);
  reader.SetCallbacks(&cb);
  std::string internal;
  if (!os::ToReaderText(InternalPath(os::AbsolutePath(s.archive)), &internal)) return kErrFileAccess;
  if (internal.size() >= kPathSize) return kErrFileAccess;
  os::FileInfo st;
  if (!os::Stat(s.archive, true, &st)) return kErrFileAccess;
  reader.Open(internal.c_str());
  return reader.LastError();
}

// One listing pass with the given include masks. Fills the entries and the
// archive information.
uint32_t ListPass(Session& s, const std::vector<std::string>& masks, std::vector<ListedEntry>* entries,
                  ArchiveInfo* info, std::string* comment, const std::vector<std::string>& excludes = {}) {
  ArchiveReader reader;
  uint32_t code = OpenArchive(reader, s, true);
  if (code == kOk) {
    NameList* include = reader.CreateNameList(kListNames);
    NameList* exclude = excludes.empty() ? nullptr : reader.CreateNameList(kListNames);
    NameList* result = reader.CreateNameList(kListEntries);
    if (include && result && (exclude || excludes.empty())) {
      for (const std::string& m : masks) reader.AddName(include, ReaderName(m).c_str());
      for (const std::string& m : excludes) reader.AddName(exclude, ReaderName(m).c_str());
      *info = ArchiveInfo{};
      reader.List(include, exclude, nullptr, result, info);
      for (NameListNode* n = result->head; n && entries; n = n->next)
        entries->push_back(ListedEntry::From(*static_cast<const FileEntry*>(n->item)));
      if (comment && reader.ArchiveComment())
        comment->assign(reader.ArchiveComment(), reader.ArchiveCommentLength());
    }
    if (include) reader.FreeNameList(include);
    if (exclude) reader.FreeNameList(exclude);
    if (result) reader.FreeNameList(result);
    code = reader.LastError();
  }
  reader.Close();
  return code;
}

// The masks handed to the reader for the user's: a name without wildcards
// also selects everything below it, so that "tvk x A.tvk docs" extracts the
// folder's files and not the bare folder. No mask: every entry.
std::vector<std::string> ReaderMasks(const std::vector<std::string>& masks) {
  std::vector<std::string> out;
  for (const std::string& given : masks) {
    std::string m = InternalPath(given);
    while (m.size() > 1 && m.back() == '\\') m.pop_back();
    out.push_back(m);
    if (m.find_first_of("*?") == std::string::npos) out.push_back(m + "\\*");
  }
  if (out.empty()) out.push_back("*.*");
  return out;
}

}  // namespace

bool WarnUnmatched(const std::vector<std::string>& masks, const std::vector<ListedEntry>& entries) {
  bool all = true;
  for (const std::string& m : masks) {
    const std::vector<std::string> forms = ReaderMasks({m});
    bool hit = false;
    for (const ListedEntry& e : entries) {
      std::string name = InternalPath(e.name);
      if (name.size() > 1 && name.back() == '\\') name.pop_back();
      for (const std::string& f : forms) hit = hit || MaskMatches(f.c_str(), name.c_str());
      if (hit) break;
    }
    if (!hit) {
      Console::Get().Alert("no entry matches " + Shown(m));
      all = false;
    }
  }
  return all;
}

namespace {

void ShowSignature(const ArchiveInfo& info) {
  if (!info.signatureValid) return;
  Console::Get().Info("signed by " + Shown(info.signer) + " on " + FormatFileTime(info.signedAt));
}

Session MakeSession(const Args& args) {
  Session s;
  s.archive = args.positional[0];
  if (args.passwordGiven && !args.password.empty()) {
    s.password = PasswordBytes(args.password);
    s.havePassword = true;
  }
  s.passwordOnly = args.passwordOnly;
  return s;
}

bool CheckArchiveArg(const Args& args, const char* command) {
  if (args.positional.empty()) {
    Console::Get().Error(std::string("tvk ") + command + " needs an archive (tvk " + command +
                         " --help)");
    return false;
  }
  return true;
}

}  // namespace

uint32_t ListEntries(const Args& args, const std::vector<std::string>& masks, std::vector<ListedEntry>* entries,
                     ArchiveInfo* info, std::string* message) {
  Session s = MakeSession(args);
  uint32_t code = kOk;
  *message = ArchiveFileProblem(s.archive, &code);
  if (!message->empty()) return code;
  return OpenFailure(s, ListPass(s, ReaderMasks(masks), entries, info, nullptr, args.excludes), message);
}

int RunList(const Args& args) {
  if (!CheckArchiveArg(args, "l")) return kExitUsage;
  Console& con = Console::Get();
  con.CatchInterrupt();
  Session s = MakeSession(args);
  uint32_t code = kOk;
  std::string problem = ArchiveFileProblem(s.archive, &code);
  if (!problem.empty()) return Finish(s, code, problem);
  const std::vector<std::string> masks(args.positional.begin() + 1, args.positional.end());
  std::vector<ListedEntry> entries;
  ArchiveInfo info{};
  std::string comment;
  code = OpenFailure(s, ListPass(s, ReaderMasks(masks), &entries, &info, &comment, args.excludes), &problem);
  if (code != kOk && code != kErrSignatureMismatch) return Finish(s, code, problem);
  bool allMatched = true;
  if (!masks.empty()) {
    std::vector<ListedEntry> every;
    ArchiveInfo ignored{};
    if (ListPass(s, {"*.*"}, &every, &ignored, nullptr) == kOk) allMatched = WarnUnmatched(masks, every);
  }

  // Within a volume set an entry's place is in a volume the listing does
  // not name.
  if (!info.multiVolume) ReadLinkTargets(s.archive, &entries);
  uint32_t volumes = 0;
  if (info.multiVolume) {
    std::vector<std::string> paths;
    std::vector<MainHeaderAt> heads;
    std::string error;
    if (VolumesOf(s.archive, &paths, &heads, &error)) volumes = static_cast<uint32_t>(paths.size());
  }
  std::string out = FormatListing(s.archive, entries, info, comment, volumes);
  std::fputs(out.c_str(), stdout);
  std::fflush(stdout);
  const int exit = Finish(s, code, code == kErrSignatureMismatch ? SignatureProblemText(info) : "");
  return exit == 0 && !allMatched ? kExitNoMatch : exit;
}

namespace {

int RunPass(const Args& args, bool extract) {
  Console& con = Console::Get();
  con.CatchInterrupt();
  Session s = MakeSession(args);
  s.overwriteAll = args.yes;
  s.skipAll = args.neverReplace;
  const std::vector<std::string> masks(args.positional.begin() + 1, args.positional.end());

  // The signature first, as the self-extractor does: the listing checks it,
  // and shows what the masks select.
  uint32_t code = kOk;
  std::string problem = ArchiveFileProblem(s.archive, &code);
  if (!problem.empty()) return Finish(s, code, problem);
  ArchiveInfo info{};
  std::vector<ListedEntry> every;
  code = OpenFailure(s, ListPass(s, {"*.*"}, &every, &info, nullptr), &problem);
  for (const ListedEntry& e : every)
    if (e.hasExactTime) s.exactTimes[e.name] = e.exactWriteTime;
  if (code == kErrSignatureMismatch) {
    // As the self-extractor does: the user decides; the end of input or
    // anything but yes keeps the archive shut.
    const std::string why = SignatureProblemText(info);
    con.Error(Shown(s.archive) + ": " + why);
    bool go = false;
    for (;;) {
      auto answer = con.Ask("Open it all the same? [y]es, [n]o: ");
      if (!answer) break;
      std::string a = *answer;
      std::transform(a.begin(), a.end(), a.begin(), [](unsigned char c) { return std::tolower(c); });
      if (a == "y" || a == "yes") go = true;
      if (go || a == "n" || a == "no") break;
    }
    if (!go) return Finish(s, code, why);
    code = kOk;
  }
  // A damaged head ends the listing where it lies; what comes before it is
  // still read, as the self-extractor does. Not so for a signed archive:
  // its signature, checked after the walk, was never reached.
  const bool headsDamaged = IsDamage(code) && !ClaimsSignature(s.archive);
  if (code != kOk && !headsDamaged) return Finish(s, code, problem);
  ShowSignature(info);
  const bool allMatched = masks.empty() || WarnUnmatched(masks, every);

  // The work to come, from the entries the masks select.
  std::vector<ListedEntry> selected;
  ArchiveInfo ignored{};
  ListPass(s, ReaderMasks(masks), &selected, &ignored, nullptr, args.excludes);
  uint64_t total = 0;
  uint32_t files = 0;
  for (const ListedEntry& e : selected) {
    total += e.size;
    if (!e.folder) ++files;
  }

  ArchiveReader reader;
  std::string targetShown;
  s.action = extract ? "Extracting" : "Testing";
  s.reader = &reader;
  s.extracting = extract;
  code = OpenArchive(reader, s, false);
  con.StartWork(total);
  if (code == kOk) {
    if (extract) {
      ExtractOptions options{};
      options.size = sizeof options;
      options.continueAfterErrors = 1;
      options.keepFolderPaths = 1;
      options.restoreWindowsTimes = 1;
      options.replaceWithoutAsking = args.yes ? 1 : 0;
      options.attributeMode = kAttrModeStored;
      const std::string shownTarget = DisplayPath(os::AbsolutePath(args.outputDir.value_or(".")));
      std::string target;
      if (!os::ToReaderText(InternalPath(shownTarget), &target)) {
        reader.Close();
        con.Error("the target folder name cannot be given to the reader in this system's code page");
        return kExitFile;
      }
      if (target.size() + 1 >= kPathSize) {
        reader.Close();
        con.Error("the target folder name is too long");
        return kExitFile;
      }
      std::memcpy(options.targetFolder, target.c_str(), target.size() + 1);
      reader.SetOptions(kOptionsExtraction, &options);
      for (const ListedEntry& e : selected) {
        const std::string path = shownTarget + "/" + e.name;
        os::FileInfo st;
        if (!e.folder && os::Stat(path, false, &st)) s.existedBefore.insert(path);
      }
      NameList* include = reader.CreateNameList(kListNames);
      NameList* exclude = args.excludes.empty() ? nullptr : reader.CreateNameList(kListNames);
      if (include && (exclude || args.excludes.empty())) {
        for (const std::string& m : ReaderMasks(masks)) reader.AddName(include, ReaderName(m).c_str());
        for (const std::string& m : args.excludes) reader.AddName(exclude, ReaderName(m).c_str());
        reader.Extract(include, exclude, nullptr);
      }
      if (include) reader.FreeNameList(include);
      if (exclude) reader.FreeNameList(exclude);
      // Files are finished behind the run: the one that failed is named,
      // not the entry the run had reached.
      std::string failed = reader.FailedOutputPath();
      if (!failed.empty()) {
        if (failed.size() > target.size() && failed.compare(0, target.size(), target) == 0 &&
            (failed[target.size()] == '\\' || target.back() == '\\'))
          failed = failed.substr(target.size() + (failed[target.size()] == '\\' ? 1 : 0));
        s.current = os::FromReaderText(DisplayPath(failed));
      }
      targetShown = shownTarget;
    } else {
      ExtractOptions options{};
      options.size = sizeof options;
      options.continueAfterErrors = 1;
      reader.SetOptions(kOptionsExtraction, &options);
      reader.TestAll();
    }
    code = reader.LastError();
  }
  reader.Close();
  s.reader = nullptr;
  // An output that cannot be made is named with the system's reason; the
  // archive is not to blame.
  if (extract && code == kErrFileAccess && !s.current.empty()) {
    const std::string why = OutputProblem(targetShown, s.current);
    if (!why.empty()) {
      con.EndWork();
      con.Error(why);
      return ExitCodeOf(code);
    }
  }
  if (s.damaged > 0 || (IsDamage(code) && headsDamaged)) {
    // Everything readable was served; the summary says how much was not.
    if (code != kOk && !IsDamage(code)) return Finish(s, code);
    con.EndWork();
    if (IsDamage(code)) {
      con.Error(Shown(s.archive) + ": " + ReaderMessage(code) +
                (s.current.empty() ? "" : " after " + s.current) + "; the entries after it cannot be read");
    }
    if (s.damaged > 0) {
      con.Error(Shown(s.archive) + ": " + Thousands(s.damaged) + " of " + Thousands(files) + " entries damaged" +
                (extract ? "; their files were not kept" : ""));
    }
    return ExitCodeOf(kErrCrc);
  }
  if (code == kOk) {
    s.current.clear();
    con.EndWork();
    con.Info(extract ? "done" : "all entries are intact");
    if (!allMatched) return kExitNoMatch;
  }
  return Finish(s, code);
}

}  // namespace

int RunTest(const Args& args) {
  if (!CheckArchiveArg(args, "t")) return kExitUsage;
  return RunPass(args, false);
}

int RunExtract(const Args& args) {
  if (!CheckArchiveArg(args, "x")) return kExitUsage;
  return RunPass(args, true);
}

}  // namespace tvk::cli
