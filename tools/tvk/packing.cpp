#include "tools/tvk/packing.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <string>

#include "common/bytes.h"
#include "writer/audio_encoder.h"
#include "writer/lz_encoder.h"
#include "writer/stream_check.h"

namespace tvk::cli {
namespace {

// Window per level: smaller windows for the fast levels.
constexpr uint32_t kWindowCode[5] = {0, 5, 6, 7, 7};

// Linked x86 code, whose call operands the call filter turns into absolute
// targets that repeat. Object files are left alone: their calls hold zeros
// until linked, and the filter would make each one different. So is code of
// other processors and 16-bit code.
bool WantsCallFilter(const uint8_t* p, size_t n) {
  if (n >= 20 && p[0] == 0x7F && p[1] == 'E' && p[2] == 'L' && p[3] == 'F') {
    const uint32_t type = LoadU16(p + 16), machine = LoadU16(p + 18);
    return (type == 2 || type == 3) && (machine == 3 || machine == 62);
  }
  if (n >= 64 && p[0] == 'M' && p[1] == 'Z') {
    const uint32_t pe = LoadU32(p + 0x3C);
    if (pe > n - 6 || std::memcmp(p + pe, "PE\0\0", 4) != 0) return false;
    const uint32_t machine = LoadU16(p + pe + 4);
    return machine == 0x14C || machine == 0x8664;
  }
  return false;
}

std::string NoticeName(const PackRequest& request) {
  if (!request.name) return "an entry";
  std::string name = *request.name;
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

bool LooksLikeWave(const uint8_t* p, size_t n) {
  return n >= 12 && std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "WAVE", 4) == 0;
}

// Mostly printable text: a delta filter never pays there.
bool LooksLikeText(const uint8_t* p, size_t n) {
  size_t text = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = p[i];
    text += (c >= 0x20 && c < 0x7F) || c == '\n' || c == '\r' || c == '\t' || c >= 0xA0;
  }
  return text * 20 >= n * 19;
}

// Where the samples of a file begin: behind a bitmap's headers, else at 0.
uint32_t SampleStart(const uint8_t* p, size_t n) {
  if (n >= 54 && p[0] == 'B' && p[1] == 'M') {
    uint32_t offset;
    std::memcpy(&offset, p + 10, 4);
    if (offset < n) return offset;
  }
  return 0;
}

// A delta filter pays on samples laid out in fixed strides (uncompressed
// images, raw sound, tables of binary numbers). Each kind and channel count
// is tried on a piece of the file at the fastest level, and the best is kept
// only when it is clearly smaller than no filter.
void ChooseDelta(const uint8_t* p, size_t n, LzOptions* options) {
  constexpr size_t kMinSize = 64 << 10;
  constexpr size_t kSample = 256 << 10;
  if (n < kMinSize) return;
  const uint32_t start = SampleStart(p, n);
  const uint8_t* sample = p + start;
  const size_t length = std::min(n - start, kSample);
  if (length < kMinSize / 2 || LooksLikeText(sample, std::min<size_t>(length, 16384))) return;
  LzOptions trial;
  trial.level = 1;
  const size_t plain = EncodeLz(sample, length, trial).size();
  size_t best = plain;
  struct Shape {
    uint8_t kind, channels;
  };
  static const Shape kShapes[] = {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 1}, {1, 2}};
  Shape chosen{0, 0};
  for (const Shape& s : kShapes) {
    trial.delta = true;
    trial.deltaKind = s.kind;
    trial.deltaChannels = s.channels;
    const size_t size = EncodeLz(sample, length, trial).size();
    if (size < best) {
      best = size;
      chosen = s;
    }
  }
  if (chosen.channels == 0 || best * 100 > plain * 97) return;
  options->delta = true;
  options->deltaKind = chosen.kind;
  options->deltaChannels = chosen.channels;
  options->deltaHeader = start;
}

}  // namespace

struct Packing::State {
  LzEncoder lz;
  // The encoder (and the check's decoder) hold the state of an entry that
  // read back, so the next one may continue it.
  bool lzUsed = false;
  bool verify = true;
  bool entriesApart = false;
  bool finderThread = false;
  std::unique_ptr<StreamCheck> check;
  std::function<void(const std::string&)> notice;
  std::function<void(Bytes&, int)> hook;
};

Packing::Packing(int level, bool solid)
    : level_(level), solid_(solid), state_(std::make_shared<State>()) {}

Packing::~Packing() = default;

void Packing::SetVerify(bool verify) { state_->verify = verify; }

void Packing::SetNotice(std::function<void(const std::string&)> notice) {
  state_->notice = std::move(notice);
}

void Packing::SetStreamHook(std::function<void(Bytes&, int)> hook) { state_->hook = std::move(hook); }

void Packing::SetEntriesApart(bool apart) { state_->entriesApart = apart; }

void Packing::SetFinderThread(bool on) { state_->finderThread = on; }

uint8_t Packing::MethodFor(uint64_t size) const {
  if (level_ <= 0 || size == 0) return fmt::kMethodStored;
  return static_cast<uint8_t>(level_);
}

uint32_t Packing::DictCodeFor(uint8_t method) const {
  return method >= fmt::kMethodLzFirst && method <= fmt::kMethodLzLast ? kWindowCode[level_] : 0;
}

bool Packing::SolidFor(uint8_t method) const {
  return solid_ && state_->lzUsed && method >= fmt::kMethodLzFirst && method <= fmt::kMethodLzLast;
}

namespace {

// One attempt at an entry: audio when it pays, else LZ at the given level.
// False when the encoder gave up on the data.
bool PackOnce(Packing::State& state, const PackRequest& request, int level, bool solid,
              bool allowAudio, PackResult* result) {
  if (allowAudio && LooksLikeWave(request.data, request.size)) {
    uint32_t crc = 0;
    Bytes audio;
    // The audio method unless even the fastest LZ packs this sound
    // smaller (silence, synthetic tones); judged on up to 8 MiB of it.
    if (EncodeAudio(request.data, request.size, &audio, &crc) && audio.size() < request.size) {
      LzOptions quick;
      quick.level = 1;
      const size_t probe = std::min<size_t>(request.size, size_t(8) << 20);
      const double lzShare = double(EncodeLz(request.data, probe, quick).size()) / double(probe);
      if (lzShare * double(request.size) >= double(audio.size())) {
        result->packed = std::move(audio);
        result->method = fmt::kMethodAudio;
        result->crc = crc;
        result->filterByte = 0;
        return true;
      }
    }
  }
  LzOptions options;
  options.level = static_cast<uint32_t>(level);
  options.windowCode = request.dictCode;
  options.finderThread = state.finderThread;
  options.x86 = WantsCallFilter(request.data, request.size);
  if (!options.x86) ChooseDelta(request.data, request.size, &options);
  result->crc.reset();
  if (state.entriesApart && !solid) state.lz.ForgetStatistics();
  try {
    result->packed = state.lz.Encode(request.data, request.size, options, solid);
  } catch (const std::exception&) {
    return false;
  }
  result->method = request.method;
  result->filterByte = state.lz.lastFilterWord() != 0 ? 1 : 0;
  return true;
}

// What one attempt came to.
enum class Attempt { kReadBack, kBadStream, kAbort };
constexpr int kNoStreamReadBack = -1;
constexpr int kAborted = -2;

// The level asked for; then, should its stream not read back, a lower one as
// the start of a new solid group, and the fastest. pack(level, solid,
// attempt, &lz) packs and checks one attempt (lz: the LZ state took part);
// kAbort (the file or the scratch file failed) ends the tries at once.
// Answers the attempt that read back, kNoStreamReadBack or kAborted;
// *usedSolid tells whether that attempt continues the previous entry.
int TryLevels(Packing::State& state, int level, bool continues, const std::string& name,
              const std::function<Attempt(int, bool, int, bool*)>& pack, bool* usedSolid) {
  const int levels[3] = {level, level - 1, 1};
  const int tries = level <= 1 ? 1 : level == 2 ? 2 : 3;
  *usedSolid = false;
  for (int attempt = 0; attempt < tries; ++attempt) {
    const bool solid = attempt == 0 && continues && state.lzUsed;
    bool lz = true;
    const Attempt a = pack(levels[attempt], solid, attempt, &lz);
    if (a == Attempt::kAbort) {
      state.lzUsed = false;
      return kAborted;
    }
    if (a == Attempt::kBadStream) {
      // The decoder's carried state is that of a bad stream; if it was LZ,
      // so is the encoder's.
      if (lz) state.lzUsed = false;
      continue;
    }
    if (lz) state.lzUsed = true;
    if (attempt > 0 && state.notice) {
      state.notice(name + ": its packed stream did not read back; packed again at -m" +
                   std::to_string(levels[attempt]));
    }
    *usedSolid = solid;
    return attempt;
  }
  if (state.notice) state.notice(name + ": no packed stream read back; stored");
  state.lzUsed = false;
  return kNoStreamReadBack;
}

}  // namespace

tvk::Packer Packing::Packer() {
  std::shared_ptr<State> state = state_;
  const int level = level_;
  const bool solid = solid_;
  return [state, level, solid](const PackRequest& request, PackResult* result) {
    if (state->verify && !state->check) state->check = std::make_unique<StreamCheck>();
    const uint32_t dataCrc = state->verify ? EntryCrc(request.data, request.size) : 0;
    PackResult trial;
    auto pack = [&](int lv, bool entrySolid, int attempt, bool* lz) {
      trial = PackResult();
      if (!PackOnce(*state, request, lv, entrySolid, attempt == 0, &trial)) return Attempt::kBadStream;
      *lz = trial.method != fmt::kMethodAudio;
      if (state->hook) state->hook(trial.packed, attempt);
      if (!state->verify) return Attempt::kReadBack;
      const StreamCheck::Entry e{trial.packed.data(), trial.packed.size(), trial.method, trial.filterByte,
                                 *lz ? request.dictCode : 0, *lz && entrySolid, request.size,
                                 trial.crc.value_or(dataCrc), {}};
      return state->check->Check(e) ? Attempt::kReadBack : Attempt::kBadStream;
    };
    bool usedSolid = false;
    if (TryLevels(*state, level, request.solid, NoticeName(request), pack, &usedSolid) < 0) {
      *result = PackResult();
      result->method = fmt::kMethodStored;
      result->solid = false;
      return true;
    }
    *result = std::move(trial);
    if (usedSolid != request.solid) result->solid = usedSolid;
    // Data that does not shrink is stored, unless later entries of a solid
    // archive build on this one's window.
    if (!solid && result->method != fmt::kMethodAudio && result->packed.size() >= request.size) {
      result->packed.clear();
      result->method = fmt::kMethodStored;
      result->filterByte = 0;
    }
    return true;
  };
}

bool Packing::PackStream(const StreamRequest& request, StreamResult* out, std::string* error) {
  State& state = *state_;
  if (state.verify && !state.check) state.check = std::make_unique<StreamCheck>();
  // The filters are chosen from the file's start, as for a file in memory.
  Bytes head(static_cast<size_t>(std::min<uint64_t>(request.size, 1u << 20)));
  if (!request.read(0, head.data(), head.size())) {
    *error = "cannot read the file";
    return false;
  }
  LzOptions options;
  options.windowCode = request.dictCode;
  options.finderThread = state.finderThread;
  options.x86 = WantsCallFilter(head.data(), head.size());
  if (!options.x86) ChooseDelta(head.data(), head.size(), &options);
  auto pack = [&](int lv, bool entrySolid, int attempt, bool* lz) {
    *lz = true;
    if (!request.restart()) return Attempt::kAbort;
    options.level = static_cast<uint32_t>(lv);
    uint64_t packed = 0;
    Bytes piece;
    auto write = [&](const uint8_t* p, size_t n) {
      packed += n;
      if (!state.hook) return request.write(p, n);
      piece.assign(p, p + n);
      state.hook(piece, attempt);
      return request.write(piece.data(), piece.size());
    };
    try {
      if (!state.lz.EncodeStream(request.size, request.read, write, options, entrySolid)) return Attempt::kAbort;
    } catch (const std::exception&) {
      return Attempt::kBadStream;
    }
    out->packedSize = packed;
    out->method = request.method;
    out->filterByte = state.lz.lastFilterWord() != 0 ? 1 : 0;
    if (!state.verify) return Attempt::kReadBack;
    StreamCheck::Entry e{nullptr, packed, out->method, out->filterByte, request.dictCode, entrySolid,
                         request.size, request.crc, request.readPacked};
    return state.check->Check(e) ? Attempt::kReadBack : Attempt::kBadStream;
  };
  bool usedSolid = false;
  const int attempt = TryLevels(state, level_, request.solid, request.name, pack, &usedSolid);
  if (attempt == kAborted) {
    *error = "cannot read the file or write its packed stream";
    return false;
  }
  out->solid = usedSolid;
  if (attempt == kNoStreamReadBack || (!solid_ && out->packedSize >= request.size)) {
    out->method = fmt::kMethodStored;
    out->filterByte = 0;
    out->packedSize = request.size;
    out->solid = false;
  }
  return true;
}

std::string Packing::SolidOrderKey(const std::string& stored) {
  const size_t slash = stored.rfind('/');
  const std::string name = slash == std::string::npos ? stored : stored.substr(slash + 1);
  const size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // Within a kind the path order stays: neighbours in a folder tend to be
  // alike.
  return ext + '\0' + stored;
}

}  // namespace tvk::cli
