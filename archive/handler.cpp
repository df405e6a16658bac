// The generic handler: callbacks, options records, name lists, and the list,
// extract and test operations that only the TVK reader implements.
#include <string.h>

#include "archive/blocks.h"
#include "archive/format.h"
#include "archive/reader.h"
#include "platform/result_codes.h"

namespace tvk {

ArchiveHandlerBase::ArchiveHandlerBase() = default;

// Releases nothing by contract; the reader's own destructor tidies up what a
// caller left open.
ArchiveHandlerBase::~ArchiveHandlerBase() = default;

ArchiveHandler::~ArchiveHandler() = default;

void ArchiveHandlerBase::Reset() {
  filter_ = nullptr;
}

uint32_t ArchiveHandlerBase::Open(const char*) {
  filter_ = nullptr;
  if (!headBuffer_) {
    // Room behind the 65,536 bytes for the cipher's rounding to whole blocks.
    headBuffer_ = static_cast<uint8_t*>(MemAllocZero(fmt::kHeadBufferSize + 16));
    if (!headBuffer_) SetError(kErrMemory);
  }
  return error_;
}

void ArchiveHandlerBase::Close() {
  MemFree(archiveComment_);
  archiveComment_ = nullptr;
  archiveCommentLength_ = 0;
  MemFree(compressSettings_);
  compressSettings_ = nullptr;
  MemFree(headBuffer_);
  headBuffer_ = nullptr;
  memset(&compressOptions_, 0, sizeof(compressOptions_));
  memset(&extractOptions_, 0, sizeof(extractOptions_));
  haveExtractOptions_ = 0;
  memset(&filterRecord_, 0, sizeof(filterRecord_));
  filter_ = nullptr;
  error_ = 0;
}

void ArchiveHandlerBase::SetOptions(uint32_t kind, const void* record) {
  if (kind == 0 || !record) return;
  uint32_t size = 0;
  memcpy(&size, record, sizeof(size));
  if (kind == kOptionsExtraction) {
    if (size != sizeof(ExtractOptions)) {
      SetError(kErrOptions);
      return;
    }
    memcpy(&extractOptions_, record, sizeof(ExtractOptions));
    // The record comes from outside: its texts must end inside their fields.
    extractOptions_.storedFolder[kPathSize - 1] = 0;
    extractOptions_.baseFolder[kPathSize - 1] = 0;
    extractOptions_.targetFolder[kPathSize - 1] = 0;
    haveExtractOptions_ = 1;
  } else if (kind == kOptionsCompression) {
    if (size != sizeof(CompressOptions)) {
      SetError(kErrOptions);
      return;
    }
    const CompressOptions* in = static_cast<const CompressOptions*>(record);
    void* copy = nullptr;
    if (in->settings && in->settingsLength) {
      copy = MemAlloc(in->settingsLength);
      if (!copy) {
        SetError(kErrMemory);
        return;
      }
      memcpy(copy, in->settings, in->settingsLength);
    }
    MemFree(compressSettings_);
    compressSettings_ = copy;
    compressOptions_ = *in;
    compressOptions_.settings = copy;
    if (!copy) compressOptions_.settingsLength = 0;
  } else {
    SetError(kErrOptions);
  }
}

uint32_t ArchiveHandlerBase::List(NameList*, NameList*, const EntryFilter*, NameList*,
                                  ArchiveInfo*) {
  SetError(kErrNotSupported);
  return error_;
}

uint32_t ArchiveHandlerBase::Extract(NameList*, NameList*, const EntryFilter*) {
  SetError(kErrNotSupported);
  return error_;
}

uint32_t ArchiveHandlerBase::TestAll() {
  SetError(kErrNotSupported);
  return error_;
}

void ArchiveHandlerBase::SetCallbacks(const ReaderCallbacks* callbacks) {
  if (callbacks) callbacks_ = *callbacks;
}

// ---------------------------------------------------------------------------
// Name lists
// ---------------------------------------------------------------------------

namespace {

void ReleaseNameItem(void* item) {
  NameItem* n = static_cast<NameItem*>(item);
  if (!n) return;
  MemFree(n->text);
  MemFree(n);
}

void ReleaseEntryItem(void* item) {
  FileEntry* e = static_cast<FileEntry*>(item);
  if (!e) return;
  FreeEntryBuffers(e);
  MemFree(e);
}

const char* SkipRoot(const char* s) {
  if (s[0] == '\\' && s[1] == '\\') {
    uint32_t seen = 0;
    const char* p = s;
    for (; *p; ++p) {
      if (*p == '\\' && ++seen == 4) return p + 1;
    }
    return p;
  }
  if (s[0] && s[1] == ':') s += 2;
  while (*s == '\\' || *s == '/') ++s;
  return s;
}

int CompareNameItems(const void* a, const void* b) {
  char x[kPathSize], y[kPathSize];
  StrCopy(x, sizeof(x), SkipRoot(static_cast<const NameItem*>(a)->text));
  StrCopy(y, sizeof(y), SkipRoot(static_cast<const NameItem*>(b)->text));
  StrUpper(x);
  StrUpper(y);
  return strcmp(x, y);
}

}  // namespace

NameList* ArchiveHandlerBase::CreateNameList(uint32_t kind) {
  if (kind != kListNames && kind != kListEntries) {
    SetError(kErrOptions);
    return nullptr;
  }
  NameList* list = static_cast<NameList*>(MemAllocZero(sizeof(NameList)));
  if (!list) {
    SetError(kErrMemory);
    return nullptr;
  }
  list->kind = kind;
  if (kind == kListNames) {
    list->compare = CompareNameItems;
    list->release = ReleaseNameItem;
  } else {
    list->release = ReleaseEntryItem;
  }
  return list;
}

static bool AppendItem(NameList* list, void* item) {
  NameListNode* node = static_cast<NameListNode*>(MemAllocZero(sizeof(NameListNode)));
  if (!node) return false;
  node->item = item;
  if (list->tail) {
    list->tail->next = node;
  } else {
    list->head = node;
  }
  list->tail = node;
  ++list->count;
  return true;
}

uint32_t ArchiveHandlerBase::AddName(NameList* list, const char* text) {
  if (!list || !text || list->kind != kListNames) return kErrOptions;
  NameItem* item = static_cast<NameItem*>(MemAllocZero(sizeof(NameItem)));
  if (item) item->text = StrDuplicate(text);
  if (!item || !item->text || !AppendItem(list, item)) {
    ReleaseNameItem(item);
    SetError(kErrMemory);
    return kErrMemory;
  }
  return 0;
}

void ArchiveHandlerBase::FreeNameList(NameList* list) {
  if (!list) return;
  NameListNode* node = list->head;
  while (node) {
    NameListNode* next = node->next;
    if (list->release) list->release(node->item);
    MemFree(node);
    node = next;
  }
  MemFree(list->spare);
  MemFree(list);
}

// Used by the reader's listing: appends an owned copy of entry.
bool AppendEntryCopy(NameList* list, const FileEntry& entry) {
  FileEntry* copy = static_cast<FileEntry*>(MemAlloc(sizeof(FileEntry)));
  if (!copy) return false;
  *copy = entry;
  copy->comment = nullptr;
  if (entry.comment) {
    copy->comment = StrDuplicate(entry.comment);
    if (!copy->comment) {
      MemFree(copy);
      return false;
    }
  }
  if (!AppendItem(list, copy)) {
    ReleaseEntryItem(copy);
    return false;
  }
  return true;
}

}  // namespace tvk
