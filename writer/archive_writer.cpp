#include "writer/archive_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "common/bytes.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "crypto/digest.h"
#include "platform/platform.h"
#include "writer/utf8_files.h"

namespace tvk {
namespace {

int SeekTo(std::FILE* f, uint64_t offset) {
#if defined(_WIN32)
  return _fseeki64(f, static_cast<int64_t>(offset), SEEK_SET);
#else
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET);
#endif
}

int SeekEnd(std::FILE* f) {
#if defined(_WIN32)
  return _fseeki64(f, 0, SEEK_END);
#else
  return fseeko(f, 0, SEEK_END);
#endif
}

}  // namespace

// ---------------------------------------------------------------------------
// Ciphers
// ---------------------------------------------------------------------------

// The keys and ciphers are the module's own (crypto/cipher.h), so that the
// writer cannot derive a key the reader would not. Passwords go in as the
// reader takes them: as C strings, so an embedded zero byte ends one.
Bytes EncipherHead(const std::string& password, const Bytes& head) {
  const size_t length = (head.size() + 7) & ~size_t{7};
  Bytes out(2 + length, 0);
  StoreU16(&out[0], static_cast<uint32_t>(length));
  std::copy(head.begin(), head.end(), out.begin() + 2);
  EncipherHeadBytes(password.c_str(), out.data() + 2, static_cast<uint32_t>(length));
  return out;
}

Bytes EntryKeyBytes(uint32_t kind, const std::string& password) {
  const uint32_t length = static_cast<uint32_t>(std::min<size_t>(password.size(), UINT32_MAX));
  if (kind == 1) {
    Bytes key(16);
    Md5OfBuffer(password.data(), length, key.data());
    return key;
  }
  if (kind == 2) {
    Bytes key(32, 0);  // an empty password leaves it all zeros
    Sha256OfBuffer(key.data(), password.data(), length);
    return key;
  }
  return {};
}

namespace {

bool EntryEncryptKey(uint32_t kind, const std::string& password, EntryKey* key) {
  const uint32_t length = static_cast<uint32_t>(std::min<size_t>(password.size(), UINT32_MAX));
  return DeriveEntryEncryptKey(key, password.data(), length, kind);
}

// Whole 16-byte blocks of data, in pieces the module's 32-bit count can take.
void EncipherBlocks(const EntryKey& key, uint8_t* data, size_t size) {
  constexpr size_t kPiece = size_t{1} << 30;
  for (size_t at = 0; at < size; at += kPiece) {
    EncipherEntryData(&key, data + at, static_cast<uint32_t>(std::min(kPiece, size - at)));
  }
}

}  // namespace

void EncipherEntryDataInPlace(uint32_t kind, const std::string& password, Bytes* data) {
  EntryKey key{};
  if (!EntryEncryptKey(kind, password, &key)) return;
  Bytes& out = *data;
  out.resize((out.size() + 15) & ~size_t{15}, 0);
  EncipherBlocks(key, out.data(), out.size());
  SecureZero(&key, sizeof key);
}

Bytes EncipherEntryData(uint32_t kind, const std::string& password, const Bytes& data) {
  Bytes out(data);
  EncipherEntryDataInPlace(kind, password, &out);
  return out;
}

uint32_t EntryCrc(const uint8_t* data, size_t size) { return Crc32(kCrcStart, data, size); }

// ---------------------------------------------------------------------------
// Outputs
// ---------------------------------------------------------------------------

bool MemoryOutput::Begin(uint32_t index) {
  if (index != volumes.size()) return false;
  volumes.emplace_back();
  return true;
}

bool MemoryOutput::Write(const uint8_t* data, size_t size) {
  if (volumes.empty()) return false;
  volumes.back().insert(volumes.back().end(), data, data + size);
  return true;
}

bool MemoryOutput::Patch(uint32_t index, uint64_t offset, const uint8_t* data, size_t size) {
  if (index >= volumes.size() || offset + size > volumes[index].size()) return false;
  std::memcpy(volumes[index].data() + offset, data, size);
  return true;
}

bool MemoryOutput::ReadBack(uint32_t index, uint64_t offset, uint8_t* data, size_t size) {
  if (index >= volumes.size() || offset + size > volumes[index].size()) return false;
  std::memcpy(data, volumes[index].data() + offset, size);
  return true;
}

uint64_t MemoryOutput::Size(uint32_t index) const {
  return index < volumes.size() ? volumes[index].size() : 0;
}

std::string MemoryOutput::Describe(uint32_t index) const {
  return "volume " + std::to_string(index + 1);
}

FileOutput::FileOutput(std::string path, bool replace) : path_(std::move(path)), replace_(replace) {}

FileOutput::~FileOutput() {
  if (file_) std::fclose(file_);
}

std::string FileOutput::PathOf(uint32_t index) const {
  return index == 0 ? path_ : VolumeName(path_, index);
}

std::vector<std::string> FileOutput::Paths() const {
  std::vector<std::string> paths;
  for (uint32_t i = 0; i < sizes_.size(); ++i) paths.push_back(PathOf(i));
  return paths;
}

bool FileOutput::CloseCurrent() {
  if (!file_) return true;
  bool ok = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!ok) error_ = PathOf(current_) + ": " + std::strerror(errno);
  return ok;
}

bool FileOutput::Begin(uint32_t index) {
  if (!CloseCurrent()) return false;
  std::string p = PathOf(index);
#if defined(_WIN32)
  // The Windows C library has no exclusive mode: look first.
  if (!replace_) {
    if (std::FILE* existing = OpenFileUtf8(p, "rb")) {
      std::fclose(existing);
      error_ = p + ": the file exists";
      return false;
    }
  }
  file_ = OpenFileUtf8(p, "wb");
#else
  file_ = OpenFileUtf8(p, replace_ ? "wb" : "wbx");
#endif
  if (!file_) {
    error_ = p + ": " + std::strerror(errno);
    return false;
  }
  current_ = index;
  if (sizes_.size() <= index) sizes_.resize(index + 1, 0);
  sizes_[index] = 0;
  return true;
}

bool FileOutput::Write(const uint8_t* data, size_t size) {
  if (!file_) return false;
  if (size && std::fwrite(data, 1, size, file_) != size) {
    error_ = PathOf(current_) + ": " + std::strerror(errno);
    return false;
  }
  sizes_[current_] += size;
  return true;
}

bool FileOutput::Patch(uint32_t index, uint64_t offset, const uint8_t* data, size_t size) {
  if (index >= sizes_.size() || offset + size > sizes_[index]) return false;
  if (file_ && index == current_) {
    bool ok = std::fflush(file_) == 0 && SeekTo(file_, offset) == 0 &&
              std::fwrite(data, 1, size, file_) == size && std::fflush(file_) == 0 &&
              SeekEnd(file_) == 0;
    if (!ok) error_ = PathOf(index) + ": " + std::strerror(errno);
    return ok;
  }
  std::FILE* f = OpenFileUtf8(PathOf(index), "r+b");
  if (!f) {
    error_ = PathOf(index) + ": " + std::strerror(errno);
    return false;
  }
  bool ok = SeekTo(f, offset) == 0 &&
            std::fwrite(data, 1, size, f) == size;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) error_ = PathOf(index) + ": " + std::strerror(errno);
  return ok;
}

bool FileOutput::ReadBack(uint32_t index, uint64_t offset, uint8_t* data, size_t size) {
  if (index >= sizes_.size() || offset + size > sizes_[index]) return false;
  if (file_ && index == current_ && std::fflush(file_) != 0) return false;
  std::FILE* f = OpenFileUtf8(PathOf(index), "rb");
  if (!f) return false;
  bool ok = SeekTo(f, offset) == 0 &&
            std::fread(data, 1, size, f) == size;
  std::fclose(f);
  return ok;
}

uint64_t FileOutput::Size(uint32_t index) const {
  return index < sizes_.size() ? sizes_[index] : 0;
}

bool FileOutput::Flush() { return !file_ || std::fflush(file_) == 0; }

bool FileOutput::Finish() { return CloseCurrent(); }

std::string FileOutput::Describe(uint32_t index) const { return PathOf(index); }

void FileOutput::RemoveAll() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  for (uint32_t i = 0; i < sizes_.size(); ++i) RemoveFileUtf8(PathOf(i));
  sizes_.clear();
}

// ---------------------------------------------------------------------------
// The archive writer
// ---------------------------------------------------------------------------

ArchiveWriter::ArchiveWriter(ArchiveSpec shape, VolumeOutput* out) : spec_(std::move(shape)), out_(out) {
  if (spec_.volumeSize) spec_.multiVolume = true;
}

bool ArchiveWriter::Fail(const std::string& message) {
  if (error_.empty()) error_ = message;
  return false;
}

Bytes ArchiveWriter::HeadBytes(const Bytes& head) const {
  return spec_.encryptHeads ? EncipherHead(spec_.headPassword, head) : head;
}

bool ArchiveWriter::Emit(const Bytes& bytes) {
  if (!out_->Write(bytes.data(), bytes.size()))
    return Fail("cannot write " + out_->Describe(volume_));
  return true;
}

uint64_t ArchiveWriter::VolumeLength() const { return out_->Size(volume_); }

uint64_t ArchiveWriter::EndReserve() const {
  uint64_t reserve = 0;
  if (spec_.endMarker) reserve = HeadBytes(EndMarker()).size();
  if (spec_.signer) {
    uint64_t sig = spec_.encryptHeads ? 2 + fmt::kSignatureBlockSize : fmt::kSignatureBlockSize;
    reserve = std::max(reserve, sig);
  }
  return reserve;
}

bool ArchiveWriter::StartVolume() {
  if (!out_->Begin(volume_)) return Fail("cannot create " + out_->Describe(volume_));
  if (volume_ == 0 && !spec_.prefix.empty() && !Emit(spec_.prefix)) return false;
  volumeStart_ = VolumeLength();
  uint16_t flags = spec_.extraMainFlags;
  if (spec_.encryptHeads) flags |= fmt::kArcEncryptedHeads;
  if (spec_.solid) flags |= fmt::kArcSolid;
  if (spec_.multiVolume) flags |= fmt::kArcMultiVolume;
  if (spec_.signer) flags |= fmt::kArcSigned;
  if (volume_ == 0 && spec_.comment) flags |= fmt::kArcComment;
  mainFlags_ = flags;
  MainHeaderFields main;
  main.flags = flags;
  main.tail = spec_.mainTail;
  if (!Emit(BuildMainHeader(main))) return false;
  if (volume_ == 0 && spec_.comment && !Emit(HeadBytes(BuildCommentHead(*spec_.comment))))
    return false;
  bodyStart_ = VolumeLength();
  return true;
}

bool ArchiveWriter::Begin() {
  if (begun_) return error_.empty();
  begun_ = true;
  return StartVolume();
}

bool ArchiveWriter::SealVolume() {
  Bytes record;
  if (!out_->Flush()) return Fail("cannot write " + out_->Describe(volume_));
  if (!spec_.signer(*out_, volume_, VolumeLength(), &record)) return Fail("signing failed");
  if (record.size() != fmt::kSignatureBlockSize) return Fail("the signature record is not 520 bytes");
  return Emit(HeadBytes(record));
}

bool ArchiveWriter::NewVolume() {
  if (!Begin()) return false;
  if (!spec_.multiVolume) return Fail("a new volume in an archive that is not a volume set");
  if (spec_.signer && !spec_.signLastVolumeOnly) {
    if (!SealVolume()) return false;
  } else if (spec_.endMarker && !Emit(HeadBytes(EndMarker()))) {
    return false;
  }
  ++volume_;
  return StartVolume();
}

bool ArchiveWriter::VolumeHasRoom(uint64_t bytes) const {
  if (!spec_.volumeSize) return true;
  return VolumeLength() + bytes + EndReserve() <= spec_.volumeSize;
}

bool ArchiveWriter::AddEntry(const EntrySpec& shape, const Bytes& data) {
  if (!Begin()) return false;
  if (finished_) return Fail("the archive is finished");

  // The packed stream, then its ciphertext. Big entries must not be copied
  // on the way: `stream` points at whichever holds the bytes to write.
  Bytes packed;
  const Bytes* stream = &packed;
  uint8_t filterByte = shape.filter;
  uint8_t method = shape.method;
  std::optional<uint32_t> packerCrc;
  std::optional<bool> solidOverride;
  if (!shape.folder) {
    if (shape.packed) {
      stream = &*shape.packed;
    } else if (shape.method == fmt::kMethodStored) {
      stream = &data;
    } else {
      if (!spec_.packer) return Fail("no encoder for method " + std::to_string(shape.method));
      PackRequest request{data.data(), data.size(), shape.method, shape.dictCode, shape.solid, &shape.name};
      PackResult result;
      result.method = shape.method;
      if (!spec_.packer(request, &result)) return Fail("the encoder failed on " + shape.name);
      packed = std::move(result.packed);
      method = result.method;
      filterByte = result.filterByte;
      packerCrc = result.crc;
      solidOverride = result.solid;
      if (method == fmt::kMethodStored) {
        Bytes().swap(packed);
        stream = &data;
      }
    }
  }
  Bytes cipher;
  if (!shape.folder && (shape.encryption == 1 || shape.encryption == 2)) {
    // The packed stream is this function's own and is enciphered where it
    // is; the caller's bytes are copied first.
    if (stream == &packed) {
      EncipherEntryDataInPlace(shape.encryption, shape.password, &packed);
    } else {
      cipher = EncipherEntryData(shape.encryption, shape.password, *stream);
      stream = &cipher;
    }
  }
  const uint64_t unpacked = shape.unpackedSize.value_or(shape.folder ? 0 : data.size());
  const uint32_t crc = shape.crc.value_or(
      shape.folder ? 0 : packerCrc.value_or(EntryCrc(data.data(), data.size())));
  // A stream the packer stored needs no window: its bits are 0, as for a
  // file stored from the start.
  const uint32_t dictCode = method == fmt::kMethodStored && shape.method != fmt::kMethodStored ? 0 : shape.dictCode;
  // The packer may have started a new solid group where it was asked to
  // continue the last one.
  return WriteEntry(shape, solidOverride.value_or(shape.solid), dictCode, method, filterByte, crc, unpacked,
                    stream->size(),
                    [&](uint64_t pos, uint64_t length) {
                      return out_->Write(stream->data() + pos, static_cast<size_t>(length));
                    });
}

bool ArchiveWriter::AddStoredEntry(const EntrySpec& shape, uint64_t size, uint32_t crc,
                                   const DataSource& source) {
  return AddStreamedEntry(shape, fmt::kMethodStored, 0, size, crc, size, source);
}

bool ArchiveWriter::AddStreamedEntry(const EntrySpec& shape, uint8_t method, uint8_t filterByte,
                                     uint64_t unpacked, uint32_t crc, uint64_t size,
                                     const DataSource& source) {
  if (!Begin()) return false;
  if (finished_) return Fail("the archive is finished");
  if (shape.folder) return Fail("a folder has no data");
  const bool encrypted = shape.encryption == 1 || shape.encryption == 2;
  const uint64_t cipherSize = encrypted ? (size + 15) & ~uint64_t{15} : size;
  EntryKey key{};
  if (encrypted) EntryEncryptKey(shape.encryption, shape.password, &key);
  // Any byte range of the ciphertext: ECB enciphers whole blocks on their
  // own, so the blocks around the range are read and enciphered alone.
  constexpr uint64_t kChunk = 1 << 20;
  Bytes buffer;
  auto emit = [&](uint64_t pos, uint64_t length) {
    while (length > 0) {
      const uint64_t blockStart = pos & ~uint64_t{15};
      const uint64_t want = std::min<uint64_t>(kChunk, pos + length - blockStart);
      const uint64_t span = encrypted ? (want + 15) & ~uint64_t{15} : want;
      buffer.assign(static_cast<size_t>(span), 0);
      const uint64_t available = blockStart < size ? std::min<uint64_t>(span, size - blockStart) : 0;
      if (available && !source(blockStart, buffer.data(), static_cast<size_t>(available))) return false;
      if (encrypted) EncipherBlocks(key, buffer.data(), buffer.size());
      const uint64_t skip = pos - blockStart;
      const uint64_t n = std::min<uint64_t>(length, want - skip);
      if (!out_->Write(buffer.data() + skip, static_cast<size_t>(n))) return false;
      pos += n;
      length -= n;
    }
    return true;
  };
  bool ok = WriteEntry(shape, shape.solid, shape.dictCode, method, filterByte, shape.crc.value_or(crc), shape.unpackedSize.value_or(unpacked),
                       cipherSize, emit);
  SecureZero(&key, sizeof key);
  return ok;
}

bool ArchiveWriter::WriteEntry(const EntrySpec& shape, bool solid, uint32_t dictCode, uint8_t method,
                               uint8_t filterByte, uint32_t crc, uint64_t unpacked, uint64_t cipherSize,
                               const std::function<bool(uint64_t, uint64_t)>& emitData) {
  uint16_t baseFlags = shape.extraFlags;
  if (shape.encryption == 1) baseFlags |= fmt::kEntryEncrypted1;
  if (shape.encryption == 2) baseFlags |= fmt::kEntryEncrypted2;
  if (solid) baseFlags |= fmt::kEntrySolid;
  if (shape.oemName) baseFlags |= fmt::kEntryOemName;
  baseFlags |= static_cast<uint16_t>((dictCode & 15) << fmt::kEntryDictShift);
  const uint64_t maxPacked = shape.packedSize.value_or(cipherSize);
  if (!shape.folder && (shape.largeSizes || unpacked > 0xFFFFFFFFull || maxPacked > 0xFFFFFFFFull))
    baseFlags |= fmt::kEntryLargeSizes;

  std::vector<Bytes> subHeads;
  if (shape.times) subHeads.push_back(BuildFileTimesHead((*shape.times)[0], (*shape.times)[1], (*shape.times)[2]));
  if (shape.unixMode) subHeads.push_back(BuildUnixModeHead(*shape.unixMode));
  for (const SubBlock& s : shape.subBlocks) subHeads.push_back(MakeHead(s.type, 0, s.fields));

  // The heads of one part of the entry, each in its stored form.
  auto partHeads = [&](bool firstPart, bool more, uint64_t partPacked) {
    std::vector<Bytes> heads;
    EntryHeadFields f;
    f.folder = shape.folder;
    f.flags = baseFlags;
    if (!firstPart) f.flags |= fmt::kEntryContinued;
    if (more) f.flags |= fmt::kEntryContinues;
    if (shape.comment && firstPart) f.flags |= fmt::kEntryComment;
    if (!subHeads.empty()) f.flags |= fmt::kFlagSubBlock;
    f.filter = filterByte;
    f.reserved8 = shape.reserved8;
    f.reserved9 = shape.reserved9;
    f.info = shape.info;
    f.version = shape.version;
    f.method = method;
    f.crc = crc;
    f.attributes = shape.attributes;
    f.dosTime = shape.dosTime;
    f.packedSize = shape.packedSize.value_or(partPacked);
    f.unpackedSize = unpacked;
    f.name = shape.name;
    std::vector<Bytes> plain;
    plain.push_back(BuildEntryHead(f));
    for (size_t i = 0; i < subHeads.size(); ++i) {
      Bytes h = subHeads[i];
      if (i + 1 < subHeads.size()) {
        StoreU16(&h[3], LoadU16(&h[3]) | fmt::kFlagSubBlock);
        SealHead(h);
      }
      plain.push_back(std::move(h));
    }
    for (size_t i = 0; i < plain.size(); ++i) {
      if (shape.editHead) {
        shape.editHead(plain[i], i);
        if (shape.reseal) SealHead(plain[i]);
      }
      heads.push_back(HeadBytes(plain[i]));
    }
    if (shape.comment && firstPart) heads.push_back(HeadBytes(BuildCommentHead(*shape.comment)));
    return heads;
  };

  if (!shape.splitAt.empty() && !spec_.multiVolume)
    return Fail("split points in an archive that is not a volume set");

  uint64_t pos = 0;
  bool firstPart = true;
  for (;;) {
    uint64_t headLength = 0;
    for (const Bytes& h : partHeads(firstPart, false, 0)) headLength += h.size();
    const uint64_t remaining = cipherSize - pos;
    uint64_t take = remaining;
    if (spec_.volumeSize) {
      const uint64_t need = headLength + (remaining ? 1 : 0);
      if (!VolumeHasRoom(need) && VolumeLength() > bodyStart_) {
        if (!NewVolume()) return false;
        continue;
      }
      const uint64_t used = VolumeLength() + EndReserve() + headLength;
      uint64_t room = spec_.volumeSize > used ? spec_.volumeSize - used : 0;
      if (room == 0) room = 1;  // a volume too small for a head still moves on
      take = std::min(remaining, room);
    }
    for (uint64_t s : shape.splitAt) {
      if (s > pos && s < pos + take) take = s - pos;
      // A split at 0: the first part carries the heads and no data.
      if (s == 0 && firstPart) take = 0;
    }
    const bool more = pos + take < cipherSize;
    for (const Bytes& h : partHeads(firstPart, more, take)) {
      if (!Emit(h)) return false;
    }
    if (take && !emitData(pos, take)) return Fail("cannot write " + out_->Describe(volume_));
    pos += take;
    firstPart = false;
    if (!more) break;
    if (!NewVolume()) return false;
  }
  firstEntry_ = false;
  return true;
}

bool ArchiveWriter::AddRecovery(const RecoveryFields& fields, uint8_t filler) {
  if (!Begin()) return false;
  if (!Emit(HeadBytes(BuildRecoveryHead(fields)))) return false;
  Bytes data(RecoveryDataLength(fields.a, fields.b), filler);
  return Emit(data);
}

bool ArchiveWriter::AddRawHead(const Bytes& head) {
  if (!Begin()) return false;
  return Emit(HeadBytes(head));
}

bool ArchiveWriter::AddRawBytes(const Bytes& bytes) {
  if (!Begin()) return false;
  return Emit(bytes);
}

bool ArchiveWriter::Finish() {
  if (!Begin()) return false;
  if (finished_) return error_.empty();
  finished_ = true;
  if (spec_.multiVolume && spec_.lastVolumeFlag) {
    Bytes main(fmt::kMainHeaderSize);
    if (!out_->ReadBack(volume_, volumeStart_, main.data(), main.size()))
      return Fail("cannot read back " + out_->Describe(volume_));
    StoreU16(&main[3], LoadU16(&main[3]) | fmt::kArcLastVolume);
    SealHead(main);
    if (!out_->Patch(volume_, volumeStart_, main.data(), main.size()))
      return Fail("cannot update " + out_->Describe(volume_));
  }
  if (spec_.signer) {
    if (!SealVolume()) return false;
  } else if (spec_.endMarker) {
    if (!Emit(HeadBytes(EndMarker()))) return false;
  }
  if (!out_->Finish()) return Fail("cannot finish " + out_->Describe(volume_));
  return true;
}

}  // namespace tvk
