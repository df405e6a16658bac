// Writes seed inputs for the fuzz targets with the project's writers:
//   fuzz_seeds FOLDER  ->  FOLDER/{reader,decode,payload,messages}/...
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "writer/archive_writer.h"
#include "writer/audio_encoder.h"
#include "writer/lz_encoder.h"
#include "writer/payload_writer.h"

namespace fs = std::filesystem;
using tvk::Bytes;

namespace {

fs::path root;

void Save(const std::string& sub, const std::string& name, const Bytes& bytes) {
  fs::create_directories(root / sub);
  std::ofstream out(root / sub / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(size_t n) {
  static const std::string words =
      "Der Assistent entpackt die Dateien in den Zielordner. Fertig, weiter, abbrechen. ";
  Bytes b;
  for (size_t i = 0; b.size() < n; ++i) b.push_back(static_cast<uint8_t>(words[(i * 7 + i / 13) % words.size()]));
  return b;
}

Bytes Program(size_t n) {
  Bytes b = Text(n);
  for (size_t i = 16; i + 5 < n; i += 37) {
    b[i] = 0xE8;  // call with a near operand: the x86 filter's work
    b[i + 1] = static_cast<uint8_t>(i);
    b[i + 2] = 0;
    b[i + 3] = 0;
    b[i + 4] = 0;
  }
  return b;
}

Bytes Wave(uint16_t channels, uint16_t bits, size_t frames) {
  size_t dataSize = frames * channels * (bits / 8);
  Bytes b;
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); };
  auto u16 = [&](uint16_t v) { b.push_back(static_cast<uint8_t>(v)); b.push_back(static_cast<uint8_t>(v >> 8)); };
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  u32(static_cast<uint32_t>(36 + dataSize));
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  u32(16);
  u16(1);
  u16(channels);
  u32(22050);
  u32(22050u * channels * (bits / 8));
  u16(static_cast<uint16_t>(channels * (bits / 8)));
  u16(bits);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  u32(static_cast<uint32_t>(dataSize));
  for (size_t i = 0; i < frames * channels; ++i) {
    int v = static_cast<int>((i * 37) % 200) - 100;
    if (bits == 8) {
      b.push_back(static_cast<uint8_t>(128 + v));
    } else {
      u16(static_cast<uint16_t>(v * 90));
    }
  }
  return b;
}

tvk::Packer MakePacker() {
  auto encoder = std::make_shared<tvk::LzEncoder>();
  return [encoder](const tvk::PackRequest& r, tvk::PackResult* out) {
    uint32_t crc = 0;
    Bytes audio;
    if (r.size > 44 && r.data[0] == 'R' && tvk::EncodeAudio(r.data, r.size, &audio, &crc)) {
      out->packed = std::move(audio);
      out->method = tvk::fmt::kMethodAudio;
      out->crc = crc;
      return true;
    }
    tvk::LzOptions o;
    o.windowCode = r.dictCode;
    o.x86 = r.size > 0 && r.data[16] == 0xE8;
    out->packed = encoder->Encode(r.data, r.size, o, r.solid);
    out->method = r.method;
    out->filterByte = encoder->lastFilterWord() != 0 ? 1 : 0;
    return true;
  };
}

Bytes Archive(tvk::ArchiveSpec shape, const std::vector<std::pair<tvk::EntrySpec, Bytes>>& items) {
  tvk::MemoryOutput out;
  tvk::ArchiveWriter w(std::move(shape), &out);
  for (const auto& [e, data] : items) {
    if (!w.AddEntry(e, data)) std::cerr << "seed: " << w.Error() << "\n";
  }
  w.Finish();
  return out.volumes.empty() ? Bytes{} : out.volumes[0];
}

tvk::EntrySpec Entry(const std::string& name, uint8_t method = tvk::fmt::kMethodStored) {
  tvk::EntrySpec e;
  e.name = name;
  e.method = method;
  e.dosTime = 0x3D4B6A2E;
  return e;
}

tvk::CommentFields Comment(const std::string& text) {
  tvk::CommentFields c;
  c.text.assign(text.begin(), text.end());
  return c;
}

void ReaderSeeds() {
  {  // stored files, a folder, comments, times and modes
    tvk::ArchiveSpec shape;
    shape.comment = Comment("Archivkommentar");
    tvk::EntrySpec dir = Entry("Ordner");
    dir.folder = true;
    dir.attributes = tvk::kAttrDirectory;
    tvk::EntrySpec f = Entry("Ordner\\Liesmich.txt");
    f.comment = Comment("Dateikommentar");
    f.times = std::array<tvk::FileTime, 3>{};
    f.unixMode = 0755;
    tvk::EntrySpec g = Entry("leer.txt");
    g.largeSizes = true;
    g.oemName = true;
    Save("reader", "stored.tvk", Archive(shape, {{dir, {}}, {f, Text(300)}, {g, {}}}));
  }
  {  // LZ, solid, with the x86 filter and an audio entry
    tvk::ArchiveSpec shape;
    shape.solid = true;
    shape.packer = MakePacker();
    tvk::EntrySpec a = Entry("a.txt", 3);
    tvk::EntrySpec b = Entry("b.exe", 3);
    b.solid = true;
    tvk::EntrySpec c = Entry("c.wav", 3);
    Save("reader", "solid.tvk", Archive(shape, {{a, Text(2000)}, {b, Program(1500)}, {c, Wave(2, 16, 300)}}));
  }
  for (uint32_t kind : {1u, 2u}) {  // encrypted entries
    tvk::ArchiveSpec shape;
    shape.packer = MakePacker();
    tvk::EntrySpec a = Entry("geheim.txt", 2);
    a.encryption = kind;
    a.password = "fuzz";
    tvk::EntrySpec b = Entry("offen.txt");
    b.encryption = kind;
    b.password = "fuzz";
    Save("reader", "aes" + std::to_string(kind) + ".tvk", Archive(shape, {{a, Text(700)}, {b, Text(40)}}));
  }
  {  // encrypted heads
    tvk::ArchiveSpec shape;
    shape.encryptHeads = true;
    shape.headPassword = "fuzz";
    shape.comment = Comment("verdeckt");
    tvk::EntrySpec a = Entry("x.txt");
    a.encryption = 2;
    a.password = "fuzz";
    Save("reader", "heads.tvk", Archive(shape, {{a, Text(100)}}));
  }
  {  // a recovery block between entries
    tvk::MemoryOutput out;
    tvk::ArchiveWriter w(tvk::ArchiveSpec{}, &out);
    w.AddEntry(Entry("r1.txt"), Text(50));
    tvk::RecoveryFields r;
    r.a = 0;
    r.b = 8;
    w.AddRecovery(r, 0x5A);
    w.AddEntry(Entry("r2.txt"), Text(20));
    w.Finish();
    Save("reader", "recovery.tvk", out.volumes[0]);
  }
}

Bytes DecodeHeader(uint8_t kind, uint8_t dict, uint8_t filter, uint32_t unpacked, uint16_t split = 0,
                   uint32_t second = 0) {
  return Bytes{kind, dict, filter, static_cast<uint8_t>(unpacked), static_cast<uint8_t>(unpacked >> 8),
               static_cast<uint8_t>(unpacked >> 16), static_cast<uint8_t>(split),
               static_cast<uint8_t>(split >> 8), static_cast<uint8_t>(second),
               static_cast<uint8_t>(second >> 8), static_cast<uint8_t>(second >> 16)};
}

void Append(Bytes& a, const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); }

void DecodeSeeds() {
  {
    Bytes t = Text(100);
    Bytes s = DecodeHeader(0, 0, 0, 100);
    Append(s, t);
    Save("decode", "stored", s);
  }
  struct Case {
    const char* name;
    tvk::LzOptions opt;
    Bytes data;
  };
  std::vector<Case> cases;
  cases.push_back({"lz_text", {}, Text(3000)});
  cases.back().opt.windowCode = 0;
  cases.push_back({"lz_x86", {}, Program(3000)});
  cases.back().opt.x86 = true;
  cases.back().opt.windowCode = 1;
  cases.push_back({"lz_delta", {}, Wave(2, 16, 500)});
  cases.back().opt.delta = true;
  cases.back().opt.deltaKind = 1;
  cases.back().opt.deltaChannels = 2;
  cases.back().opt.deltaHeader = 44;
  cases.back().opt.windowCode = 0;
  cases.push_back({"lz_small_blocks", {}, Text(2000)});
  cases.back().opt.blockSymbols = 50;
  cases.back().opt.windowCode = 0;
  for (const Case& c : cases) {
    tvk::LzEncoder enc;
    Bytes packed = enc.Encode(c.data.data(), c.data.size(), c.opt, false);
    Bytes s = DecodeHeader(1, static_cast<uint8_t>(c.opt.windowCode), enc.lastFilterWord() ? 1 : 0,
                           static_cast<uint32_t>(c.data.size()));
    Append(s, packed);
    Save("decode", c.name, s);
  }
  {  // model blocks, two tables and a count of 0
    tvk::LzEncoder enc;
    tvk::LzOptions opt;
    opt.windowCode = 0;
    std::vector<tvk::LzBlock> blocks(3);
    blocks[0].form = tvk::LzBlock::kModel;
    blocks[0].bytes = Wave(2, 8, 200);
    blocks[0].channels = 2;
    blocks[0].models = 2;
    blocks[1].form = tvk::LzBlock::kTwoTables;
    blocks[1].threshold = 2;
    for (int i = 0; i < 40; ++i) blocks[1].ops.push_back(tvk::LzOp::Literal(static_cast<uint8_t>('a' + i % 5)));
    blocks[1].ops.push_back(tvk::LzOp::Match(20, 5));
    blocks[2].form = tvk::LzBlock::kDeltaCoded;
    blocks[2].zeroCount = true;
    blocks[2].ops.push_back(tvk::LzOp::Repeat(0, 6));
    blocks[2].ops.push_back(tvk::LzOp::RepeatLast());
    std::vector<uint8_t> window;
    Bytes packed = enc.EncodeBlocks(blocks, opt, false, 0, &window);
    Bytes s = DecodeHeader(1, 0, 0, static_cast<uint32_t>(window.size()));
    Append(s, packed);
    Save("decode", "lz_blocks", s);
  }
  {  // two solid entries
    tvk::LzEncoder enc;
    tvk::LzOptions opt;
    opt.windowCode = 0;
    Bytes a = Text(1500), b = Text(1700);
    Bytes pa = enc.Encode(a.data(), a.size(), opt, false);
    Bytes pb = enc.Encode(b.data(), b.size(), opt, true);
    Bytes s = DecodeHeader(1, 0x10, 0, static_cast<uint32_t>(a.size()), static_cast<uint16_t>(pa.size()),
                           static_cast<uint32_t>(b.size()));
    Append(s, pa);
    Append(s, pb);
    Save("decode", "lz_solid", s);
  }
  int n = 0;
  for (auto [ch, bits] : {std::pair<uint16_t, uint16_t>{1, 8}, {2, 8}, {1, 16}, {2, 16}}) {
    Bytes wav = Wave(ch, bits, 400);
    Bytes audio;
    if (!tvk::EncodeAudio(wav.data(), wav.size(), &audio)) continue;
    Bytes s = DecodeHeader(2, 0, 0, static_cast<uint32_t>(wav.size()));
    Append(s, audio);
    Save("decode", "audio" + std::to_string(n++), s);
  }
}

void PayloadSeeds(const std::string& sourceDir) {
  std::string lang, error;
  if (!tvk::payload::LoadLanguageText("de", &lang, &error)) {
    std::cerr << "seed: " << error << "\n";
    return;
  }
  for (const char* l : {"de.ini", "en.ini"}) {
    std::ifstream in(fs::path(sourceDir) / "lang" / l, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Save("messages", l, Bytes(text.begin(), text.end()));
  }
  Bytes archive = Archive(tvk::ArchiveSpec{}, {{Entry("setup.txt"), Text(30)}});
  std::vector<tvk::payload::Settings> variants(3);
  variants[0].targetFolder = "%Temp%\\Beispiel";
  variants[0].runAfter = "setup.txt|/s \"a b\"";
  variants[1].infoTitle = "Hinweis";
  variants[1].infoText = "Bitte lesen.\\nDanke";
  variants[1].infoBoxStyle = 1;
  variants[1].quiet = 1;
  variants[2].mode = 2;
  variants[2].command = "%Programs%\\x|y";
  variants[2].secondCommand = "z";
  for (size_t i = 0; i < variants.size(); ++i) {
    Bytes payload;
    if (!tvk::payload::BuildPayload(lang, variants[i], &payload, &error)) {
      std::cerr << "seed: " << error << "\n";
      continue;
    }
    Append(payload, archive);
    Save("payload", "payload" + std::to_string(i), payload);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: fuzz_seeds OUTPUT_FOLDER SOURCE_FOLDER\n";
    return 1;
  }
  root = argv[1];
  ReaderSeeds();
  DecodeSeeds();
  PayloadSeeds(argv[2]);
  return 0;
}
