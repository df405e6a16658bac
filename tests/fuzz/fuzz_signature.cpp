// The signature record: the input is an archive whose last 520 bytes are its
// record (byte 0 chooses how it is read), checked against the built-in
// master key, or a run of RSA blocks opened directly.
//   [0] 0: plain record; 1: record under encrypted heads (password "fuzz");
//       2: OpenRsaBlocks on the rest with the master key
#include "archive/signature_check.h"
#include "crypto/master_key.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0] % 3;
  const uint8_t* rest = data + 1;
  const size_t restSize = size - 1;

  uint32_t error = 0;
  uint64_t total = 0, done = 0;
  uint32_t digestKind = tvk::kDigestMd5;
  static tvk::SignatureResult result;
  tvk::SignatureCheck check{};
  check.error = &error;
  check.encryptedHeads = mode == 1;
  check.archivePassword = "fuzz";
  check.progressTotal = &total;
  check.progressDone = &done;
  check.digestKind = &digestKind;
  check.result = &result;

  if (mode == 2) {
    tvk::PublicKeyRecord key;
    tvk::MasterPublicKey(&key);
    static uint8_t output[1 << 16];
    uint32_t outLength = 0;
    uint32_t length = restSize > 4096 ? 4096 : static_cast<uint32_t>(restSize);
    tvk::OpenRsaBlocks(&check, rest, length, output, &outLength, &key);
    if (outLength > sizeof output) abort();
    return 0;
  }
  std::string path = tvk_fuzz::Internal(tvk_fuzz::WriteInput("signed.tvk", rest, restSize));
  // The record's position: the writer puts it last; a short file is read
  // from its start, so a record that runs past the end is tried too.
  uint64_t signedLength = restSize > tvk::kSignatureRecordSize ? restSize - tvk::kSignatureRecordSize : 0;
  tvk::CheckSignature(&check, path.c_str(), signedLength);
  if (result.valid) abort();  // nothing here is signed with the master key
  return 0;
}
