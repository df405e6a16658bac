// Throughput of the module's CRC-32, digests and AES decryption, each beside
// the library implementation measured in the same run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "crypto/digest.h"

namespace {

constexpr size_t kSize = 1 << 20;

std::vector<uint8_t>& Data() {
  static std::vector<uint8_t> data = [] {
    std::vector<uint8_t> v(kSize);
    std::mt19937 rng(1);
    for (auto& b : v) b = uint8_t(rng());
    return v;
  }();
  return data;
}

void Done(benchmark::State& state) { state.SetBytesProcessed(int64_t(state.iterations()) * kSize); }

void BM_Crc32_Ours(benchmark::State& state) {
  auto& d = Data();
  for (auto _ : state) benchmark::DoNotOptimize(tvk::Crc32(tvk::kCrcStart, d.data(), d.size()));
  Done(state);
}
void BM_Crc32_Zlib(benchmark::State& state) {
  auto& d = Data();
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0L, d.data(), uInt(d.size())));
  Done(state);
}

void BM_Aes256Decrypt_Ours(benchmark::State& state) {
  std::vector<uint8_t> buf = Data();
  tvk::EntryKey key;
  tvk::DeriveEntryKey(&key, "benchmark", 9, 2);
  for (auto _ : state) {
    tvk::DecipherEntryData(&key, buf.data(), uint32_t(buf.size()));
    benchmark::ClobberMemory();
  }
  Done(state);
}
void BM_Aes256Decrypt_Libcrypto(benchmark::State& state) {
  std::vector<uint8_t> buf = Data(), out(kSize + 32);
  uint8_t key[32] = {1, 2, 3};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_DecryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key, nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  for (auto _ : state) {
    int n = 0;
    EVP_DecryptUpdate(ctx, out.data(), &n, buf.data(), int(buf.size()));
    benchmark::DoNotOptimize(n);
  }
  EVP_CIPHER_CTX_free(ctx);
  Done(state);
}

template <typename Ctx, void (*Init)(Ctx*), void (*Update)(Ctx*, const void*, uint32_t),
          void (*Final)(Ctx*, uint8_t*)>
void OursDigest(benchmark::State& state) {
  auto& d = Data();
  uint8_t digest[64];
  for (auto _ : state) {
    Ctx ctx;
    Init(&ctx);
    Update(&ctx, d.data(), uint32_t(d.size()));
    Final(&ctx, digest);
    benchmark::DoNotOptimize(digest);
  }
  Done(state);
}

void Md5FinalAdapter(tvk::Md5Context* c, uint8_t* d) { tvk::Md5Final(c, d); }

void LibDigest(benchmark::State& state, const EVP_MD* md) {
  auto& d = Data();
  uint8_t digest[64];
  unsigned n = 0;
  for (auto _ : state) {
    EVP_Digest(d.data(), d.size(), digest, &n, md, nullptr);
    benchmark::DoNotOptimize(digest);
  }
  Done(state);
}

void BM_Md5_Ours(benchmark::State& s) {
  OursDigest<tvk::Md5Context, tvk::Md5Init, tvk::Md5Update, Md5FinalAdapter>(s);
}
void BM_Md5_Libcrypto(benchmark::State& s) { LibDigest(s, EVP_md5()); }
void BM_Sha256_Ours(benchmark::State& s) {
  OursDigest<tvk::Sha256Context, tvk::Sha256Init, tvk::Sha256Update, tvk::Sha256Final>(s);
}
void BM_Sha256_Libcrypto(benchmark::State& s) { LibDigest(s, EVP_sha256()); }
void BM_Sha512_Ours(benchmark::State& s) {
  OursDigest<tvk::Sha512Context, tvk::Sha512Init, tvk::Sha512Update, tvk::Sha512Final>(s);
}
// The nearest library peer: the standard digest of the same shape.
void BM_Sha512_Libcrypto(benchmark::State& s) { LibDigest(s, EVP_sha512()); }

}  // namespace

BENCHMARK(BM_Crc32_Ours);
BENCHMARK(BM_Crc32_Zlib);
BENCHMARK(BM_Aes256Decrypt_Ours);
BENCHMARK(BM_Aes256Decrypt_Libcrypto);
BENCHMARK(BM_Md5_Ours);
BENCHMARK(BM_Md5_Libcrypto);
BENCHMARK(BM_Sha256_Ours);
BENCHMARK(BM_Sha256_Libcrypto);
BENCHMARK(BM_Sha512_Ours);
BENCHMARK(BM_Sha512_Libcrypto);

BENCHMARK_MAIN();
