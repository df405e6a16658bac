// The LZ encoder of methods 1 to 4: a compressor (hash chains with greedy or
// lazy parsing at the fast levels; at the best level binary trees, a
// price-based parse that each block repeats with the prices of its own codes,
// and blocks cut where the statistics change; length-limited canonical codes)
// and a construct-level writer that can put every element of the stream on
// demand, with solid continuation and both output filters.
#ifndef TVK_WRITER_LZ_ENCODER_H
#define TVK_WRITER_LZ_ENCODER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "writer/bit_writer.h"
#include "writer/lz_encoder_finder.h"

namespace tvk {

struct LzOptions {
  uint32_t windowCode = 7;   // window = 32 KiB << windowCode (0..7)
  uint32_t level = 3;        // 1 fastest .. 4 best
  bool x86 = false;          // x86 call filter (dropped when the data cannot take it)
  bool delta = false;        // delta filter
  uint8_t deltaKind = 0;     // 0 byte channels, 1 16-bit words
  uint8_t deltaChannels = 1;
  uint32_t deltaHeader = 0;  // bytes left unfiltered at the entry start
  uint32_t blockSymbols = 32767;  // symbols per LZ block (1..32767)
  // The best level's match finder on a second thread: the same bytes in
  // less time, for callers with a processor to spare.
  bool finderThread = false;
};

// One element of an LZ block, in the window's (unfiltered) terms.
struct LzOp {
  enum Kind : uint8_t {
    kLiteral,     // byte
    kRepeatLast,  // symbol 256
    kRepeat,      // symbols 257..260: cacheIndex 0 most recent .. 3; length
    kMatch,       // length, distance: the cheapest symbol that can carry them
  };
  Kind kind = kLiteral;
  uint8_t byte = 0;
  uint8_t cacheIndex = 0;
  bool longForm = false;  // kRepeat: repeat-length index 24; kMatch: symbol 308
  uint32_t length = 0;
  uint32_t distance = 0;

  static LzOp Literal(uint8_t b) {
    LzOp o;
    o.byte = b;
    return o;
  }
  static LzOp RepeatLast() {
    LzOp o;
    o.kind = kRepeatLast;
    return o;
  }
  static LzOp Repeat(uint8_t index, uint32_t length, bool longForm = false) {
    LzOp o;
    o.kind = kRepeat;
    o.cacheIndex = index;
    o.length = length;
    o.longForm = longForm;
    return o;
  }
  static LzOp Match(uint32_t length, uint32_t distance, bool longForm = false) {
    LzOp o;
    o.kind = kMatch;
    o.length = length;
    o.distance = distance;
    o.longForm = longForm;
    return o;
  }
};

// A block of the stream: LZ symbols under one of the three header forms, or a
// model block of range-coded, delta-predicted bytes.
struct LzBlock {
  enum Form : uint8_t { kPreCoded, kDeltaCoded, kTwoTables, kModel };
  Form form = kPreCoded;
  uint32_t threshold = 0;  // kTwoTables
  bool zeroCount = false;  // write a count of 0: the block lasts to the entry end
  bool chooseForm = false; // write whichever LZ form comes out smallest
  bool chooseThreshold = false;  // with chooseForm: try several two-table thresholds
  std::vector<LzOp> ops;
  // kModel
  std::vector<uint8_t> bytes;  // original bytes, at most 32767
  uint8_t modelKind = 0;       // 0 byte channels, 1 words
  uint8_t initialMode = 0;
  uint8_t channels = 1;        // 1..4
  uint8_t models = 1;          // 1..4
};

// The encoder's copy of the decoder state that outlives an entry.
class LzEncoder {
 public:
  LzEncoder() = default;

  // Compresses one entry. solid continues the previous entry's window and
  // distance cache (the decoder must see the entries in the same order).
  // Throws std::runtime_error when the ops it made do not reproduce the
  // data; the encoder must then start afresh (not solid).
  std::vector<uint8_t> Encode(const uint8_t* data, size_t n, const LzOptions& opt, bool solid);
  // The same for an entry read piece by piece and written out as it is
  // made, in memory bounded by the window and a segment whatever n is.
  // read(offset, dest, count) fills count bytes of the entry; false from
  // read or write ends the entry (answered false; the encoder must then
  // start afresh).
  using Reader = std::function<bool(uint64_t offset, uint8_t* dest, size_t count)>;
  using Writer = std::function<bool(const uint8_t* data, size_t count)>;
  bool EncodeStream(uint64_t n, const Reader& read, const Writer& write, const LzOptions& opt,
                    bool solid);

  // Writes the given blocks for one entry (tests). The filter word, when not
  // 0, is written as a filter header with the delta parameters of opt. The
  // bytes the decoder's window receives are appended to *window when given.
  std::vector<uint8_t> EncodeBlocks(const std::vector<LzBlock>& blocks, const LzOptions& opt,
                                    bool solid, uint32_t filterWord,
                                    std::vector<uint8_t>* window = nullptr);

  // The filter word written for the last entry (0: no filter header; the
  // entry's filter-header byte must then be 0).
  uint32_t lastFilterWord() const { return lastFilterWord_; }
  // False when the last entry asked for the x86 filter but its data could not
  // take it losslessly, so the entry went unfiltered.
  bool lastX86Kept() const { return lastX86Kept_; }
  // The match finder's work since construction: positions put into its
  // chains or trees, and head-table slots and links cleared or renumbered.
  // A solid entry should add about its own size, whatever the window holds.
  uint64_t finderWork() const { return finderWork_; }

  // The best level starts each entry from the symbol statistics of the
  // entries before it. Entries packed apart (on several threads) forget
  // them, so that no entry depends on what else its encoder packed.
  void ForgetStatistics() { parseCounts_.clear(); }

 private:
  struct Token;
  void Reset(uint32_t windowSize);
  // An entry's start: a fresh state, or a solid entry's history kept (in
  // the window size it asks for). Returns that window size.
  uint32_t BeginEntry(uint32_t windowCode, bool solid);
  void AppendWindow(const uint8_t* p, size_t n);
  void WindowGrew(size_t n);  // after n bytes were appended to history_
  bool MakeMatchToken(const LzOp& op, Token* t);
  void WriteLzBlock(BitWriter& w, const std::vector<Token>& tokens, const LzBlock& shape);
  void WriteBlocks(BitWriter& w, const std::vector<LzBlock>& blocks);
  bool WriteModelBlock(BitWriter& w, const LzBlock& shape);
  void WriteFilterHeader(BitWriter& w, uint32_t filterWord, const LzOptions& opt);
  // Appends the ops of n bytes; the best level also gives the op count of
  // each block it planned.
  void Parse(const uint8_t* data, size_t n, const LzOptions& opt, std::vector<LzOp>* ops,
             std::vector<uint32_t>* blockSizes);

  uint32_t windowSize_ = 0;
  uint32_t distCount_ = 48;
  uint32_t distE_ = 16;
  uint32_t pos_ = 0;  // the decoder's window position
  uint32_t distCache_[4] = {};
  uint32_t matchCount_ = 0;
  uint32_t lastLength_ = 0;
  uint32_t lastDistance_ = 0;
  std::vector<uint8_t> history_;  // the last windowSize_ window bytes (at least)
  uint64_t windowTotal_ = 0;      // bytes the window received since Reset
  std::vector<uint8_t>* capture_ = nullptr;
  // While Encode writes a segment: the bytes the window must receive, so
  // that ops which would decode to anything else are caught where they are
  // made, not by whoever extracts the archive.
  const uint8_t* expect_ = nullptr;
  size_t expectLeft_ = 0;
  bool expectFailed_ = false;
  uint32_t lastFilterWord_ = 0;
  // The match finder outlives an entry so that solid entries hash only their
  // own bytes. It is in step with the window while finderTotal_ equals
  // windowTotal_; anything else (forced blocks, a new window) rebuilds it.
  std::vector<uint8_t> finderBuf_;
  std::vector<int32_t> finderHead_;
  std::vector<int32_t> finderPrev_;
  LzTreeFinder tree_;  // instead of the chains at the best level
  bool finderTree_ = false;
  size_t finderInserted_ = 0;
  uint64_t finderTotal_ = 0;
  uint32_t finderWindow_ = 0;
  uint32_t finderHashBits_ = 0;
  uint64_t finderWork_ = 0;
  // Symbol counts of the price-based parse: a solid entry starts from the
  // previous entry's statistics rather than from a guess.
  std::vector<uint32_t> parseCounts_;
  bool finderValid_ = false;
  bool lastX86Kept_ = true;
};

// One entry, not solid.
std::vector<uint8_t> EncodeLz(const uint8_t* data, size_t n, const LzOptions& opt);

// Forward x86 call transform of one chunk; false when a call operand has no
// encoding that the decoder maps back (the entry must then go unfiltered).
bool X86Forward(uint8_t* data, uint32_t n, uint32_t* pos, uint32_t size);

// Sizes of the output chunks of an entry of n bytes starting at window
// position pos (no model block crossing the window end).
std::vector<uint32_t> LzChunkSizes(uint32_t pos, uint32_t windowSize, size_t n);

// Code lengths limited to maxLength for the given frequencies; at least two
// symbols always get a length (the format has no one-symbol codes).
std::vector<uint32_t> LimitedCodeLengths(const std::vector<uint32_t>& freq, uint32_t maxLength);

// Carry-less range encoder matching the decoder's model blocks.
class RangeEncoder {
 public:
  explicit RangeEncoder(std::vector<uint8_t>* out) : out_(out) {}
  // False when the range collapses (the caller must not use this stream).
  bool Encode(uint32_t cum, uint32_t freq, uint32_t total);
  void Finish();

 private:
  std::vector<uint8_t>* out_;
  uint32_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
};

}  // namespace tvk

#endif
