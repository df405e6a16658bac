// Every construct of the stream, forced through the encoder's block writer
// and read back: all block forms, every repeat index and length form, short,
// coded and long matches, model blocks of both kinds, count 0, and model
// blocks that run past the window end.
#include <gtest/gtest.h>

#include "lz_test_support.h"
#include "writer/lz_encoder.h"

namespace tvk {
namespace {

using test::LzHarness;
using test::EncodeAndDecode;
using test::LzResult;
using test::Rng;

// Random ops that only reach back into bytes already produced, with every
// symbol kind represented.
struct OpState {
  uint64_t produced = 0;
  uint32_t matches = 0;
  uint32_t lastRepeat = 0;  // 0: no repeat yet
};

std::vector<LzOp> RandomOps(Rng& rng, size_t count, OpState* st, uint32_t windowSize) {
  std::vector<LzOp> ops;
  for (size_t k = 0; k < count; ++k) {
    uint64_t have = std::min<uint64_t>(st->produced, windowSize - 1);
    uint32_t pick = rng.Below(10);
    // Repeats only once the cache holds four real distances.
    if ((pick == 3 || pick == 4) && st->matches < 4) pick = 9;
    if (pick == 3 && st->lastRepeat == 0) pick = 4;
    LzOp op;
    if (have < 300 || pick < 3) {
      op = LzOp::Literal(uint8_t("abcdefgh"[rng.Below(8)] + rng.Below(3)));
      st->produced += 1;
    } else if (pick == 3) {
      op = LzOp::RepeatLast();
      st->produced += st->lastRepeat;
      ++st->matches;
    } else if (pick == 4) {
      bool longForm = rng.Below(4) == 0;
      op = LzOp::Repeat(uint8_t(rng.Below(4)), longForm ? 257 + rng.Below(600) : 4 + rng.Below(200),
                        longForm);
      st->lastRepeat = op.length;
      st->produced += op.length;
      ++st->matches;
    } else if (pick == 5) {
      op = LzOp::Match(2, 1 + rng.Below(256));
    } else if (pick == 6) {
      op = LzOp::Match(3, 1 + rng.Below(uint32_t(std::min<uint64_t>(have, 16384))));
    } else if (pick == 7) {
      op = LzOp::Match(257 + rng.Below(2000), 1 + rng.Below(uint32_t(have)), true);
    } else {
      uint32_t d = 1 + rng.Below(uint32_t(have));
      op = LzOp::Match(5 + rng.Below(300), d);
    }
    if (op.kind == LzOp::kMatch) {
      st->produced += op.length;
      ++st->matches;
    }
    ops.push_back(op);
  }
  return ops;
}

TEST(LzConstruct, EveryBlockFormAndSymbolKind) {
  for (uint32_t code : {0u, 4u, 6u, 7u}) {
    const uint32_t ws = 32768u << code;
    Rng rng{code + 11};
    LzEncoder enc;
    LzOptions o;
    o.windowCode = code;
    std::vector<LzBlock> blocks;
    OpState st;
    const LzBlock::Form forms[] = {LzBlock::kPreCoded, LzBlock::kDeltaCoded, LzBlock::kTwoTables};
    for (int b = 0; b < 12; ++b) {
      LzBlock block;
      block.form = forms[b % 3];
      block.threshold = b % 2 ? 255 : rng.Below(310);
      block.ops = RandomOps(rng, 1 + rng.Below(3000), &st, ws);
      blocks.push_back(block);
    }
    blocks.back().zeroCount = true;
    std::vector<uint8_t> window;
    LzHarness h;
    LzResult r = EncodeAndDecode(h, enc, blocks, o, false, &window);
    ASSERT_EQ(r.error, 0u) << "window code " << code;
    EXPECT_TRUE(r.out == window) << "window code " << code;
  }
}

TEST(LzConstruct, ModelBlocksOfBothKindsAndEveryShape) {
  Rng rng{5};
  std::vector<LzBlock> blocks;
  for (uint8_t kind : {0, 1}) {
    for (uint8_t channels = 1; channels <= 4; ++channels) {
      for (uint8_t models = 1; models <= 4; ++models) {
        LzBlock m;
        m.form = LzBlock::kModel;
        m.modelKind = kind;
        m.channels = channels;
        m.models = models;
        m.initialMode = uint8_t(rng.Below(kind ? 3 : 5));
        uint32_t n = rng.Below(5) == 0 ? 1 + rng.Below(9) : 300 + rng.Below(3000);
        for (uint32_t i = 0; i < n; ++i) {
          m.bytes.push_back(uint8_t(i * channels + (i % channels) * 40 + rng.Below(4)));
        }
        blocks.push_back(m);
        LzBlock lz;
        lz.ops = {LzOp::Literal('x'), LzOp::Match(40, 1 + rng.Below(n)), LzOp::Literal('y')};
        blocks.push_back(lz);
      }
    }
  }
  LzBlock full;
  full.form = LzBlock::kModel;
  full.bytes.assign(32767, 0);
  for (size_t i = 0; i < full.bytes.size(); ++i) full.bytes[i] = uint8_t(i / 300);
  full.models = 3;
  blocks.push_back(full);
  LzEncoder enc;
  LzOptions o;
  o.windowCode = 7;
  std::vector<uint8_t> window;
  LzHarness h;
  LzResult r = EncodeAndDecode(h, enc, blocks, o, false, &window);
  ASSERT_EQ(r.error, 0u);
  EXPECT_TRUE(r.out == window);
}

// A model block that starts just below the window end is written on past it
// and handed out as one chunk; what later matches see is the same as if it
// had wrapped.
TEST(LzConstruct, ModelBlockAcrossTheWindowEnd) {
  LzBlock lits;
  for (int i = 0; i < 32000; ++i) lits.ops.push_back(LzOp::Literal(uint8_t(i * 7 / 13)));
  LzBlock model;
  model.form = LzBlock::kModel;
  for (int i = 0; i < 2000; ++i) model.bytes.push_back(uint8_t(i % 251));
  LzBlock after;
  after.ops = {LzOp::Match(100, 500),    // into the overhang, now at the window start
               LzOp::Match(300, 1500),   // back across the window end
               LzOp::Match(200, 20000),  // into the literals
               LzOp::Literal('!')};
  LzEncoder enc;
  LzOptions o;
  o.windowCode = 0;
  std::vector<uint8_t> window;
  LzHarness h;
  LzResult r = EncodeAndDecode(h, enc, {lits, model, after}, o, false, &window);
  ASSERT_EQ(r.error, 0u);
  EXPECT_TRUE(r.out == window);
  ASSERT_GE(r.chunks.size(), 2u);
  EXPECT_EQ(r.chunks[0], 34000u) << "the block's bytes leave with the window";
  EXPECT_EQ(r.chunks[1], 601u);

  // The same as a solid continuation: the next entry finds the overhang.
  LzBlock more;
  more.ops = {LzOp::Match(1000, 1701), LzOp::Literal('.')};
  std::vector<uint8_t> next;
  r = EncodeAndDecode(h, enc, {more}, o, true, &next);
  ASSERT_EQ(r.error, 0u);
  EXPECT_TRUE(r.out == next);
}

}  // namespace
}  // namespace tvk
