// The block walk over an archive file made of the fuzz input: Open, List with
// entry copies and comments, then TestAll, which decodes every entry. The
// password prompts answer "fuzz" once each and then refuse, so encrypted
// heads and entries are opened with the seeds' password and a wrong-password
// retry ends instead of asking forever.
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
  return 0;
}
