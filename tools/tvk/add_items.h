// What tvk a and tvk u share: walking the inputs, the password of new
// entries, and packing a list of items into an archive writer.
#ifndef TVK_TOOLS_ADD_ITEMS_H
#define TVK_TOOLS_ADD_ITEMS_H

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/tvk/args.h"
#include "tools/tvk/os.h"
#include "tools/tvk/packing.h"
#include "writer/archive_writer.h"

namespace tvk::cli {

struct AddItem {
  std::string diskPath;
  std::string stored;  // '/'-separated, UTF-8 as found on disk
  bool folder = false;
  os::FileInfo st;
  // An entry kept from the archive being rewritten: it writes itself (its
  // blocks as they stand) instead of being read from disk and packed.
  std::function<bool(ArchiveWriter& writer, std::string* error)> copy;
  // Encryption kind of a kept entry packed again (0, 1, 2); otherwise the
  // kind the options ask for.
  std::optional<uint32_t> encryption;
  std::optional<std::string> linkTarget;  // a link stored as a link
};

// Walks the paths as tvk a does; skip holds files never to be added (the
// archive itself); dereference (-L) stores what links lead to. Problems are
// said and counted; false when two different files would be stored under
// one name.
bool CollectInputs(const std::vector<std::string>& paths, const std::vector<std::string>& excludes,
                   const std::set<os::FileKey>& skip, bool dereference,
                   std::vector<AddItem>* items, int* problems);

// The password bytes for new entries from -p (asking when it is empty).
// False after saying why, with the exit code.
bool NewEntryPassword(const Args& args, std::string* password, int* exitCode);

// The signer that --sign (or --key) and --cert ask for, if any, into the
// shape; signError must outlive the writer (the signer reports there).
// False after saying why, with the exit code.
bool SignerFromArgs(const Args& args, ArchiveSpec* shape, std::string* signError, int* exitCode);
// --no-verify, and notices of streams packed again.
void ConfigurePacking(const Args& args, Packing* packing);

struct PackRun {
  uint32_t files = 0, folders = 0;
  uint64_t total = 0;  // bytes of the files read from disk
  int problems = 0;    // files skipped
  bool failed = false; // the archive is unusable and must be removed
};

// Writes the items in order through writer. password (bytes) encrypts
// the entries read from disk when not empty; archive names the scratch
// files of large streams. Ends with writer.Finish(); signError is the
// signer's message when it fails. A file that cannot be read is skipped
// and counted, or with allOrNothing fails the run.
PackRun PackItems(const std::vector<AddItem>& items, const Args& args, const std::string& archive,
                  const std::string& password, Packing& packing, ArchiveWriter& writer, FileOutput& out,
                  const std::string& signError, bool allOrNothing = false);

}  // namespace tvk::cli

#endif
