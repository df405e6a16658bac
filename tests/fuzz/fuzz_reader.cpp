// The block walk over an archive file made of the fuzz input: Open, List with
// entry copies and comments, TestAll, which decodes every entry, and Extract
// into a folder beside the archive, after which nothing but the archive and
// that folder may exist (files are capped at 4 MiB by a file-size limit). The
// password prompts answer "fuzz" once each and then refuse, so encrypted
// heads and entries are opened with the seeds' password and a wrong-password
// retry ends instead of asking forever.
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "archive/reader.h"
#include "fuzz_util.h"

namespace {

struct Answers {
  int entryLeft;
  int headerLeft;
};

int Answer(int* left, char* answer) {
  if (*left <= 0) return 0;
  --*left;
  snprintf(answer, tvk::kPasswordAnswerSize, "%s", "fuzz");
  return 1;
}

int EntryPassword(void* user, const char*, char* answer, const char*) {
  return Answer(&static_cast<Answers*>(user)->entryLeft, answer);
}

int HeaderPassword(void* user, const char*, char* answer, const char*) {
  return Answer(&static_cast<Answers*>(user)->headerLeft, answer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = tvk_fuzz::Internal(tvk_fuzz::WriteInput("a.tvk", data, size));
  Answers answers{1, 1};
  tvk::ReaderCallbacks cb{};
  cb.entryPassword = EntryPassword;
  cb.entryPasswordUser = &answers;
  cb.headerPassword = HeaderPassword;
  cb.headerPasswordUser = &answers;

  tvk::ArchiveReader reader;
  reader.SetCallbacks(&cb);
  if (reader.Open(path.c_str()) == 0) {
    tvk::NameList* include = reader.CreateNameList(tvk::kListNames);
    reader.AddName(include, "*.*");
    tvk::NameList* result = reader.CreateNameList(tvk::kListEntries);
    tvk::ArchiveInfo info{};
    reader.List(include, nullptr, nullptr, result, &info);
    // Every listed entry must be a terminated name within its buffer.
    for (tvk::NameListNode* n = result->head; n; n = n->next) {
      const tvk::FileEntry* e = static_cast<const tvk::FileEntry*>(n->item);
      if (strnlen(e->name, sizeof e->name) == sizeof e->name) abort();
      if (e->comment) (void)strlen(e->comment);
    }
    reader.FreeNameList(include);
    reader.FreeNameList(result);
  }
  reader.Close();
  answers = Answers{1, 1};
  if (reader.Open(path.c_str()) == 0) reader.TestAll();
  reader.Close();

  namespace fs = std::filesystem;
  static bool limited = [] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{4u << 20, 4u << 20};
    return setrlimit(RLIMIT_FSIZE, &r) == 0;
  }();
  (void)limited;
  const fs::path scratch = tvk_fuzz::ScratchFolder();
  const fs::path out = scratch / "out";
  answers = Answers{1, 1};
  if (reader.Open(path.c_str()) == 0) {
    tvk::ExtractOptions o{};
    o.size = sizeof o;
    o.keepFolderPaths = 1;
    o.overwriteMode = 1;
    snprintf(o.targetFolder, sizeof o.targetFolder, "%s", tvk_fuzz::Internal(out.string()).c_str());
    reader.SetOptions(tvk::kOptionsExtraction, &o);
    tvk::NameList* include = reader.CreateNameList(tvk::kListNames);
    reader.AddName(include, "*.*");
    reader.Extract(include, nullptr, nullptr);
    reader.FreeNameList(include);
  }
  reader.Close();
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(scratch, ec)) {
    std::string name = e.path().filename().string();
    if (name != "out" && name != "a.tvk") abort();  // written outside the target
  }
  for (const auto& e : fs::recursive_directory_iterator(out, ec)) {
    fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(out, ec);
  return 0;
}
