// Shared scaffolding of the reader tests: a scratch folder, archives written
// with the archive writer, and a scripted host behind the callback record.
#ifndef TVK_TESTS_ARCHIVE_TEST_UTIL_H
#define TVK_TESTS_ARCHIVE_TEST_UTIL_H

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "archive/reader.h"
#include "writer/archive_writer.h"

namespace tvk {
namespace testutil {

namespace fs = std::filesystem;

// The reader's form of a path: backslashes inside, also on Linux.
// (Windows paths joined from parts such as "vs/setup.exe" keep the slash:
// it goes too, as the program's own path from the system has none.)
inline std::string Internal(const fs::path& p) {
  std::string s = p.string();
  for (char& c : s) if (c == '/') c = '\\';
  return s;
}

inline Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << text;
}

// Answers questions from scripts; a script that runs out refuses.
struct Host {
  std::vector<std::string> entryAnswers, headerAnswers;
  std::vector<std::string> entryTriedLast, headerTriedLast, entryNames;
  std::vector<int> overwriteAnswers;
  std::vector<std::string> overwriteExisting;
  std::vector<std::string> volumeFolders;  // answers of the next-volume prompt
  std::vector<uint32_t> volumeNumbers;
  std::vector<std::string> started, startedPaths;
  std::vector<uint32_t> runCodes;
  uint64_t runTotal = 0;
  uint32_t progressCalls = 0, lastPercent = 0;
  int stopProgressAfter = -1;
  // The stored-password rule of the self-extractor: hand out the stored
  // header password unless it is the one that just failed.
  std::string storedHeaderPassword;
  bool useStoredHeaderRule = false;
  uint32_t headerCalls = 0;
  bool withRunStart = true;

  static Host* Of(void* user) { return static_cast<Host*>(user); }

  static int EntryPassword(void* u, const char* tried, char* answer, const char* name) {
    Host* h = Of(u);
    h->entryTriedLast.push_back(tried);
    h->entryNames.push_back(name);
    if (h->entryAnswers.empty()) return 0;
    std::snprintf(answer, kPasswordAnswerSize, "%s", h->entryAnswers.front().c_str());
    h->entryAnswers.erase(h->entryAnswers.begin());
    return 1;
  }
  static int HeaderPassword(void* u, const char* tried, char* answer, const char*) {
    Host* h = Of(u);
    ++h->headerCalls;
    h->headerTriedLast.push_back(tried);
    if (h->useStoredHeaderRule) {
      if (!h->storedHeaderPassword.empty() && h->storedHeaderPassword != tried) {
        std::snprintf(answer, kPasswordAnswerSize, "%s", h->storedHeaderPassword.c_str());
        return 1;
      }
      return 0;  // the user, asked, cancels
    }
    if (h->headerAnswers.empty()) return 0;
    std::snprintf(answer, kPasswordAnswerSize, "%s", h->headerAnswers.front().c_str());
    h->headerAnswers.erase(h->headerAnswers.begin());
    return 1;
  }
  static int Overwrite(void* u, const FindData* existing, const FindData*) {
    Host* h = Of(u);
    h->overwriteExisting.push_back(existing->name);
    if (h->overwriteAnswers.empty()) return 2;
    int a = h->overwriteAnswers.front();
    h->overwriteAnswers.erase(h->overwriteAnswers.begin());
    return a;
  }
  static int NextVolume(void* u, char* path, uint32_t zero, uint32_t volume, uint32_t again) {
    Host* h = Of(u);
    EXPECT_EQ(zero, 0u);
    EXPECT_EQ(volume, again);
    h->volumeNumbers.push_back(volume);
    if (h->volumeFolders.empty()) return 0;
    std::snprintf(path, kPathSize, "%s", h->volumeFolders.front().c_str());
    h->volumeFolders.erase(h->volumeFolders.begin());
    return 1;
  }
  static int EntryStart(void* u, const char* name, const char* out) {
    Of(u)->started.push_back(name);
    Of(u)->startedPaths.push_back(out);
    return 1;
  }
  static int Progress(void* u, uint32_t percent, uint32_t) {
    Host* h = Of(u);
    ++h->progressCalls;
    h->lastPercent = percent;
    EXPECT_LE(percent, 100u);
    if (h->stopProgressAfter >= 0 && h->progressCalls > static_cast<uint32_t>(h->stopProgressAfter))
      return 0;
    return 1;
  }
  static void RunStart(void* u, uint32_t low, uint32_t high, uint32_t code) {
    Of(u)->runTotal = (static_cast<uint64_t>(high) << 32) | low;
    Of(u)->runCodes.push_back(code);
  }

  ReaderCallbacks Callbacks() {
    ReaderCallbacks cb{};
    cb.runStart = withRunStart ? RunStart : nullptr;
    cb.runStartUser = this;
    cb.entryStart = EntryStart;
    cb.entryStartUser = this;
    cb.entryPassword = EntryPassword;
    cb.entryPasswordUser = this;
    cb.headerPassword = HeaderPassword;
    cb.headerPasswordUser = this;
    cb.progress = Progress;
    cb.progressUser = this;
    cb.overwrite = Overwrite;
    cb.overwriteUser = this;
    cb.nextVolume = NextVolume;
    cb.nextVolumeUser = this;
    return cb;
  }
};

struct Item {
  EntrySpec shape;
  Bytes data;
};

inline EntrySpec File(const std::string& name) {
  EntrySpec s;
  s.name = name;
  s.dosTime = (static_cast<uint32_t>((2010 - 1980) << 9 | 10 << 5 | 19) << 16) |
              (1 << 11 | 13 << 5 | 14);  // 2010-10-19 01:13:28
  return s;
}

inline EntrySpec Folder(const std::string& name) {
  EntrySpec s;
  s.name = name;
  s.folder = true;
  s.attributes = kAttrDirectory;
  return s;
}

// Removes a folder even when it holds read-only files.
inline void ForceRemove(const fs::path& folder) {
  std::error_code ec;
  if (!fs::exists(folder, ec)) return;
  for (auto& e : fs::recursive_directory_iterator(folder, ec)) {
    fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add, ec);
  }
  fs::remove_all(folder, ec);
}

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           (std::string("tvk_archive_") + info->test_suite_name() + "_" + info->name());
    ForceRemove(dir_);
    fs::create_directories(dir_);
    out_ = dir_ / "out";
  }
  void TearDown() override {
    reader_.Close();
    ForceRemove(dir_);
  }

  // Writes an archive (volumes beside it) and answers its path.
  fs::path Write(ArchiveSpec shape, const std::vector<Item>& items, const char* name = "a.tvk") {
    fs::path path = dir_ / name;
    FileOutput output(path.string(), true);
    ArchiveWriter writer(std::move(shape), &output);
    for (const Item& item : items) EXPECT_TRUE(writer.AddEntry(item.shape, item.data)) << writer.Error();
    EXPECT_TRUE(writer.Finish()) << writer.Error();
    return path;
  }

  ExtractOptions Options(bool keepPaths = true) {
    ExtractOptions o{};
    o.size = sizeof(o);
    o.keepFolderPaths = keepPaths ? 1 : 0;
    std::snprintf(o.targetFolder, sizeof(o.targetFolder), "%s", Internal(out_).c_str());
    return o;
  }

  // Open and test every entry, answering through host; the reader's error.
  uint32_t TestAll(const fs::path& archive, Host* host) {
    ReaderCallbacks cb = host->Callbacks();
    reader_.SetCallbacks(&cb);
    if (reader_.Open(Internal(archive).c_str()) != 0) return reader_.LastError();
    return reader_.TestAll();
  }

  // Open, options, extract the masks given; the reader's error.
  uint32_t Extract(const fs::path& archive, Host* host, std::vector<std::string> masks = {"*.*"},
                   ExtractOptions* options = nullptr) {
    if (host) {
      ReaderCallbacks cb = host->Callbacks();
      reader_.SetCallbacks(&cb);
    }
    if (reader_.Open(Internal(archive).c_str()) != 0) return reader_.LastError();
    ExtractOptions o = options ? *options : Options();
    reader_.SetOptions(kOptionsExtraction, &o);
    NameList* list = reader_.CreateNameList(kListNames);
    for (const std::string& m : masks) reader_.AddName(list, m.c_str());
    reader_.Extract(list, nullptr, nullptr);
    reader_.FreeNameList(list);
    return reader_.LastError();
  }

  struct Listing {
    uint32_t error = 0;
    std::vector<FileEntry> entries;
    ArchiveInfo info{};
  };
  Listing List(const fs::path& archive, Host* host = nullptr, const char* mask = "*.*",
               ExtractOptions* options = nullptr) {
    Listing l;
    if (host) {
      ReaderCallbacks cb = host->Callbacks();
      reader_.SetCallbacks(&cb);
    }
    if (reader_.Open(Internal(archive).c_str()) != 0) {
      l.error = reader_.LastError();
      return l;
    }
    if (options) reader_.SetOptions(kOptionsExtraction, options);
    NameList* include = reader_.CreateNameList(kListNames);
    reader_.AddName(include, mask);
    NameList* result = reader_.CreateNameList(kListEntries);
    reader_.List(include, nullptr, nullptr, result, &l.info);
    for (NameListNode* n = result->head; n; n = n->next) {
      FileEntry e = *static_cast<FileEntry*>(n->item);
      e.comment = nullptr;
      l.entries.push_back(e);
    }
    reader_.FreeNameList(include);
    reader_.FreeNameList(result);
    l.error = reader_.LastError();
    return l;
  }

  // Files left below a folder (temporaries included).
  std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) return names;
    for (auto& e : fs::recursive_directory_iterator(folder)) {
      if (e.is_regular_file()) names.push_back(fs::relative(e.path(), folder).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_, out_;
  ArchiveReader reader_;
};

#if !defined(_WIN32)
// Runs body in a child whose files may not grow beyond limit bytes (a full
// disk); the child's exit status is body's answer (0 when every check held).
inline int WithFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &r) != 0) _exit(90);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}
#endif

}  // namespace testutil
}  // namespace tvk

#endif
