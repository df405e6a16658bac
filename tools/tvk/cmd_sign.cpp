// tvk keygen, cert and sign, and the signer that tvk a --sign hands to the
// archive writer. Private-key work is libcrypto's (writer/openssl).
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/format.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "crypto/signature.h"
#include "tools/tvk/archive_file.h"
#include "tools/tvk/commands.h"
#include "tools/tvk/console.h"
#include "tools/tvk/signer.h"
#include "writer/archive_text.h"
#include "writer/openssl/signing.h"

namespace tvk::cli {

namespace {

// Whether the archive already ends in a signature block (so that signing
// again replaces it): with plain heads the 520-byte block itself, under
// encrypted heads its length prefix and enciphered bytes. `at` receives the
// block's position, which is where the signed bytes end.
bool EndingSignature(const std::vector<uint8_t>& bytes, uint64_t archiveStart,
                     const char* password, uint64_t* at) {
  const uint64_t size = bytes.size();
  auto isRecord = [](const uint8_t* r) {
    return r[2] == fmt::kTypeSignature &&
           (r[5] | r[6] << 8) == static_cast<int>(fmt::kSignatureBlockSize) &&
           (r[0] | r[1] << 8) == HeadCheckOf(r, fmt::kSignatureBlockSize);
  };
  if (!password) {
    if (size < archiveStart + fmt::kMainHeaderSize + fmt::kSignatureBlockSize) return false;
    *at = size - fmt::kSignatureBlockSize;
    return isRecord(&bytes[*at]);
  }
  for (uint64_t length = fmt::kSignatureBlockSize; length <= fmt::kSignatureRecordMax; ++length) {
    if (size < archiveStart + fmt::kMainHeaderSize + length + 2) break;
    uint64_t start = size - length - 2;
    if ((bytes[start] | bytes[start + 1] << 8) != static_cast<int>(length)) continue;
    std::vector<uint8_t> plain(bytes.begin() + static_cast<std::ptrdiff_t>(start + 2), bytes.end());
    plain.resize((plain.size() + 7) / 8 * 8);
    DecipherHeadBytes(password, plain.data(), static_cast<uint32_t>(length));
    if (isRecord(plain.data())) {
      *at = start;
      return true;
    }
  }
  return false;
}

}  // namespace
namespace {

bool ReadBinary(const std::string& path, Bytes* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

bool LoadSigner(const Args& args, SignerSetup* setup, std::string* error) {
  if (!args.signKey || !args.cert) {
    *error = "signing needs the signer key (--key or --sign) and its certificate (--cert)";
    return false;
  }
  if (!signing::ReadTextFile(*args.signKey, &setup->keyPem, error)) return false;
  if (!ReadBinary(*args.cert, &setup->certificate, error)) return false;
  if (setup->certificate.size() != 384) {
    *error = *args.cert + " is not a signer certificate (384 bytes)";
    return false;
  }
  // SHA-256 by default: the 512-bit digest of the format drops the first four
  // bytes of every 8-byte group whose last byte is 0x80 or more, so a change
  // there would go unnoticed. It stays available for readers that want it.
  std::string digest = args.digest.value_or("sha256");
  if (digest == "sha512") {
    setup->digestKind = signing::kBlockSha512;
    Console::Get().Warn("the sha512 digest does not cover every byte of the archive; sha256 does");
  } else if (digest == "sha256") {
    setup->digestKind = signing::kBlockSha256;
  } else if (digest == "md5") {
    setup->digestKind = signing::kBlockMd5;
  } else {
    *error = "--digest is sha512, sha256 or md5, not " + digest;
    return false;
  }
  return true;
}

ArchiveSignerFn MakeArchiveSigner(const SignerSetup& setup, std::string* error) {
  return [setup, error](VolumeOutput& out, uint32_t volume, uint64_t signedLength, Bytes* record) {
    return signing::SignFilePrefix(out.Describe(volume), signedLength, setup.keyPem,
                                   setup.certificate, setup.digestKind, signing::DosStampNow(),
                                   record, error);
  };
}

int RunKeygen(const Args& args) {
  Console& con = Console::Get();
  if (args.positional.size() != 1) {
    con.Error("tvk keygen needs one key file name (tvk keygen --help)");
    return kExitUsage;
  }
  const std::string& path = args.positional[0];
  int bits = static_cast<int>(args.bits.value_or(1024));
  if (bits < signing::kMinKeyBits || bits > signing::kMaxKeyBits) {
    con.Error("keys have 1017 to 1024 bits");
    return kExitUsage;
  }
  if (Exists(path) && !args.force) {
    con.Error(path + " exists (use -f to replace it)");
    return kExitFile;
  }
  std::string pem, error;
  if (!signing::GenerateKey(bits, &pem, &error) || !signing::WriteKeyFile(path, pem, true, &error)) {
    con.Error(error);
    return kExitFile;
  }
  con.Info("wrote a " + std::to_string(bits) + "-bit key pair to " + path);
  return kExitOk;
}

int RunCert(const Args& args) {
  Console& con = Console::Get();
  if (args.positional.size() != 2 || !args.name) {
    con.Error("tvk cert needs --name NAME, the signer's key and the output file, and --key "
              "MASTER.pem unless the build's own master key is meant (tvk cert --help)");
    return kExitUsage;
  }
  const std::string masterPath = args.signKey ? *args.signKey : std::string(TVK_BUILD_MASTER_KEY);
  bool fellBack = false;
  std::string name = ArchiveText(*args.name, &fellBack);
  if (fellBack) con.Warn("the signer's name has characters outside Windows-1252; its UTF-8 bytes are used");
  if (name.empty() || name.size() > signing::kMaxSignerName) {
    con.Error("the signer's name has 1 to 93 bytes");
    return kExitUsage;
  }
  const std::string& output = args.positional[1];
  if (Exists(output) && !args.force) {
    con.Error(output + " exists (use -f to replace it)");
    return kExitFile;
  }
  std::string master, signer, error;
  Bytes certificate;
  if (!signing::ReadTextFile(masterPath, &master, &error) ||
      !signing::ReadTextFile(args.positional[0], &signer, &error) ||
      !signing::IssueCertificate(master, signer, name, &certificate, &error)) {
    con.Error(error + (args.signKey ? "" : " (the master key of this build)"));
    return kExitFile;
  }
  Bytes masterRecord;
  if (signing::PublicKeyRecordOf(master, &masterRecord, &error) &&
      masterRecord != Bytes(kMasterPublicKey, kMasterPublicKey + kPublicKeyRecordSize)) {
    con.Warn(masterPath + " is not the master key of this build: its self-extractors will not "
                          "accept this certificate");
  }
  if (kMasterKeyIsTestKey && masterRecord == Bytes(kMasterPublicKey, kMasterPublicKey + kPublicKeyRecordSize)) {
    con.Warn("this is the published development key: certificates it seals prove nothing");
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(certificate.data()), static_cast<std::streamsize>(certificate.size()));
  out.close();
  if (!out) {
    con.Error("cannot write " + output);
    return kExitFile;
  }
  con.Info("wrote the certificate of " + *args.name + " to " + output);
  return kExitOk;
}

int RunSign(const Args& args) {
  Console& con = Console::Get();
  if (args.positional.size() != 1) {
    con.Error("tvk sign needs one archive (tvk sign --help)");
    return kExitUsage;
  }
  SignerSetup setup;
  std::string error;
  if (!LoadSigner(args, &setup, &error)) {
    con.Error(error);
    return args.signKey && args.cert ? kExitFile : kExitUsage;
  }
  std::vector<std::string> volumes;
  std::vector<MainHeaderAt> heads;
  if (!VolumesOf(args.positional[0], &volumes, &heads, &error)) {
    con.Error(error);
    return kExitFile;
  }
  const std::string& last = volumes.back();
  const MainHeaderAt& lastHead = heads.back();
  if (volumes.size() > 1)
    con.Warn("a signature covers the volume that holds it: only " + last + " is sealed, not the " +
             std::to_string(volumes.size() - 1) + " volumes before it");
  const bool encrypted = (lastHead.flags & fmt::kArcEncryptedHeads) != 0;

  // The archive must end in its end marker, which the signature replaces.
  Bytes bytes;
  if (!ReadBinary(last, &bytes, &error)) {
    con.Error(error);
    return kExitFile;
  }
  std::string password;
  uint64_t endAt = 0;
  if (!encrypted) {
    if (bytes.size() >= lastHead.offset + fmt::kMainHeaderSize + 7 &&
        std::memcmp(&bytes[bytes.size() - 7], fmt::kEndMarker, 7) == 0) {
      endAt = bytes.size() - 7;
    } else if (!EndingSignature(bytes, lastHead.offset, nullptr, &endAt)) {
      con.Error(last + " ends in neither an end marker nor a signature block");
      return kExitFile;
    } else {
      con.Info("replacing the signature of " + last);
    }
  } else {
    if (args.passwordGiven && !args.password.empty()) {
      password = PasswordBytes(args.password);
    } else {
      auto typed = con.AskSecret("Password for the archive " + last + ": ");
      if (!typed) {
        con.Error("no password given");
        return kExitFile;
      }
      password = PasswordBytes(*typed);
    }
    bool ok = bytes.size() >= lastHead.offset + fmt::kMainHeaderSize + 10 &&
              bytes[bytes.size() - 10] == 8 && bytes[bytes.size() - 9] == 0;
    if (ok) {
      uint8_t tail[8];
      std::memcpy(tail, &bytes[bytes.size() - 8], 8);
      DecipherHeadBytes(password.c_str(), tail, 8);
      ok = std::memcmp(tail, fmt::kEndMarker, 7) == 0;
    }
    if (ok) {
      endAt = bytes.size() - 10;
    } else if (EndingSignature(bytes, lastHead.offset, password.c_str(), &endAt)) {
      con.Info("replacing the signature of " + last);
    } else {
      con.Error(last + " ends in neither an end marker nor a signature block under this "
                       "password (wrong password?)");
      return kExitFile;
    }
  }

  // Every volume says the set is signed; the signed bytes include the flag.
  for (size_t i = 0; i < volumes.size(); ++i) {
    if (!UpdateMainFlags(volumes[i], heads[i], fmt::kArcSigned, 0, &error)) {
      con.Error(error);
      return kExitFile;
    }
  }
  Bytes record;
  if (!signing::SignFilePrefix(last, endAt, setup.keyPem, setup.certificate, setup.digestKind,
                               signing::DosStampNow(), &record, &error)) {
    for (size_t i = 0; i < volumes.size(); ++i)
      if (!(heads[i].flags & fmt::kArcSigned)) UpdateMainFlags(volumes[i], heads[i], 0, fmt::kArcSigned, &error);
    con.Error(error);
    return kExitFile;
  }
  Bytes block = signing::StoredSignatureBlock(record, encrypted ? password.c_str() : nullptr);
  std::error_code ec;
  std::filesystem::resize_file(last, endAt, ec);
  std::ofstream out(last, std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
  out.close();
  if (ec || !out) {
    con.Error("cannot write " + last + (ec ? ": " + ec.message() : ""));
    return kExitFile;
  }
  con.Info("signed " + last);
  return kExitOk;
}

}  // namespace tvk::cli
