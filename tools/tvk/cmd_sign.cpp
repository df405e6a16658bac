// tvk keygen, cert and sign, and the signer that tvk a --sign hands to the
// archive writer. Private-key work is libcrypto's (writer/openssl).
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/blocks.h"
#include "archive/format.h"
#include "archive/signature_check.h"
#include "common/bytes.h"
#include "crypto/cipher.h"
#include "crypto/master_key.h"
#include "tools/tvk/archive_file.h"
#include "tools/tvk/commands.h"
#include "tools/tvk/console.h"
#include "tools/tvk/signer.h"
#include "writer/archive_text.h"
#include "writer/pe_resources.h"
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
    const BlockHeader h = ParseBlockHeader(r);
    return h.type == fmt::kTypeSignature && h.size == fmt::kSignatureBlockSize &&
           HeadCheckGood(r, fmt::kSignatureBlockSize);
  };
  if (!password) {
    if (size < archiveStart + fmt::kMainHeaderSize + fmt::kSignatureBlockSize) return false;
    *at = size - fmt::kSignatureBlockSize;
    return isRecord(&bytes[*at]);
  }
  for (uint64_t length = fmt::kSignatureBlockSize; length <= fmt::kSignatureRecordMax; ++length) {
    if (size < archiveStart + fmt::kMainHeaderSize + length + 2) break;
    uint64_t start = size - length - 2;
    if (LoadU16(&bytes[start]) != length) continue;
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

bool ChooseDigest(const Args& args, SignerSetup* setup, std::string* error);

}  // namespace

bool LoadSigner(const Args& args, SignerSetup* setup, std::string* error, bool* usage) {
  if (usage) *usage = true;
  if (!args.signKey || !args.cert) {
    *error = "signing needs the signer key (--key or --sign) and its certificate (--cert)";
    return false;
  }
  if (!ChooseDigest(args, setup, error)) return false;
  if (usage) *usage = false;
  if (!signing::ReadTextFile(*args.signKey, &setup->keyPem, error)) return false;
  if (!ReadBinary(*args.cert, &setup->certificate, error)) return false;
  if (setup->certificate.size() != 384) {
    *error = *args.cert + " is not a signer certificate (384 bytes)";
    return false;
  }
  return true;
}

namespace {

bool ChooseDigest(const Args& args, SignerSetup* setup, std::string* error) {
  // SHA-256 unless told otherwise. The format's two other digests cannot
  // vouch for what they seal; readers say so, and they are made only on
  // request.
  std::string digest = args.digest.value_or("sha256");
  const char* weakness = nullptr;
  if (digest == "sha512") {
    setup->digestKind = signing::kBlockSha512;
    weakness = "the sha512 digest of the format never sees the first four bytes of every 8-byte "
               "group whose last byte is 0x80 or more, so those bytes can be changed without "
               "breaking the signature";
  } else if (digest == "sha256") {
    setup->digestKind = signing::kBlockSha256;
  } else if (digest == "md5") {
    setup->digestKind = signing::kBlockMd5;
    weakness = "MD5 collisions can be made at will: whoever hands you an archive to sign can "
               "hold a second, different one with the same digest, which your signature then "
               "covers as well";
  } else {
    *error = "--digest is sha256 (or, with --weak, sha512 or md5), not " + digest;
    return false;
  }
  if (weakness) {
    if (!args.weak) {
      *error = std::string("--digest ") + digest + " is unsafe: " + weakness +
               ". Readers show such a signature as one that cannot vouch for the archive. "
               "Use sha256, or add --weak to sign this way all the same";
      return false;
    }
    Console::Get().Warn(std::string("--digest ") + digest + ": " + weakness +
                        "; readers will not show this signature as valid");
  }
  return true;
}

}  // namespace

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

namespace {

// A seal covers the program in front of the archive, header included, and
// code signing rewrites two fields of that header (the checksum and the
// certificate table's place): the two cannot both hold on one file.
std::string CodeSignedMessage(const std::string& path) {
  return path + " is code-signed: the archive's signature would cover the program's header, which code "
                "signing changes, so a self-extractor carries one or the other";
}

// Where the signed bytes of one volume end: at its end marker, or at the
// signature block it carries already (which signing again replaces).
bool SignedEnd(const std::string& path, const Bytes& bytes, const MainHeaderAt& head,
               const char* password, uint64_t* endAt, std::string* error) {
  Console& con = Console::Get();
  if (pe::HasCertificateTable(bytes)) {
    *error = CodeSignedMessage(path);
    return false;
  }
  if (!password) {
    if (bytes.size() >= head.offset + fmt::kMainHeaderSize + 7 &&
        std::memcmp(&bytes[bytes.size() - 7], fmt::kEndMarker, 7) == 0) {
      *endAt = bytes.size() - 7;
      return true;
    }
    if (EndingSignature(bytes, head.offset, nullptr, endAt)) {
      con.Info("replacing the signature of " + path);
      return true;
    }
    *error = path + " ends in neither an end marker nor a signature block";
    return false;
  }
  bool ok = bytes.size() >= head.offset + fmt::kMainHeaderSize + 10 &&
            bytes[bytes.size() - 10] == 8 && bytes[bytes.size() - 9] == 0;
  if (ok) {
    uint8_t tail[8];
    std::memcpy(tail, &bytes[bytes.size() - 8], 8);
    DecipherHeadBytes(password, tail, 8);
    ok = std::memcmp(tail, fmt::kEndMarker, 7) == 0;
  }
  if (ok) {
    *endAt = bytes.size() - 10;
    return true;
  }
  if (EndingSignature(bytes, head.offset, password, endAt)) {
    con.Info("replacing the signature of " + path);
    return true;
  }
  *error = path + " ends in neither an end marker nor a signature block under this password "
                  "(wrong password?)";
  return false;
}

}  // namespace

int RunSign(const Args& args) {
  Console& con = Console::Get();
  if (args.positional.size() != 1) {
    con.Error("tvk sign needs one archive (tvk sign --help)");
    return kExitUsage;
  }
  SignerSetup setup;
  std::string error;
  bool usage = false;
  if (!LoadSigner(args, &setup, &error, &usage)) {
    con.Error(error);
    return usage ? kExitUsage : kExitFile;
  }
  std::vector<std::string> volumes;
  std::vector<MainHeaderAt> heads;
  if (!VolumesOf(args.positional[0], &volumes, &heads, &error)) {
    con.Error(error);
    return kExitFile;
  }
  // A signature covers only the volume that holds it, so every volume gets
  // its own; readers vouch for a set only when each volume is sealed.
  const bool encrypted = (heads.front().flags & fmt::kArcEncryptedHeads) != 0;
  std::string password;
  if (encrypted) {
    if (args.passwordGiven && !args.password.empty()) {
      password = PasswordBytes(args.password);
    } else {
      auto typed = con.AskSecret("Password for the archive " + volumes.front() + ": ");
      if (!typed) {
        con.Error("no password given");
        return kExitFile;
      }
      password = PasswordBytes(*typed);
    }
  }
  // Every volume must end in its end marker (or a signature) before any of
  // them is changed.
  std::vector<uint64_t> ends(volumes.size());
  for (size_t i = 0; i < volumes.size(); ++i) {
    Bytes bytes;
    if (!ReadBinary(volumes[i], &bytes, &error) ||
        !SignedEnd(volumes[i], bytes, heads[i], encrypted ? password.c_str() : nullptr, &ends[i],
                   &error)) {
      con.Error(error);
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
  const uint32_t stamp = signing::DosStampNow();
  for (size_t i = 0; i < volumes.size(); ++i) {
    const std::string& path = volumes[i];
    Bytes record;
    if (!signing::SignFilePrefix(path, ends[i], setup.keyPem, setup.certificate, setup.digestKind,
                                 stamp, &record, &error)) {
      if (i == 0) {
        for (size_t v = 0; v < volumes.size(); ++v)
          if (!(heads[v].flags & fmt::kArcSigned)) UpdateMainFlags(volumes[v], heads[v], 0, fmt::kArcSigned, &error);
      }
      con.Error(error);
      return kExitFile;
    }
    Bytes block = signing::StoredSignatureBlock(record, encrypted ? password.c_str() : nullptr);
    std::error_code ec;
    std::filesystem::resize_file(path, ends[i], ec);
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    out.close();
    if (ec || !out) {
      con.Error("cannot write " + path + (ec ? ": " + ec.message() : ""));
      return kExitFile;
    }
  }
  con.Info(volumes.size() > 1 ? "signed the " + std::to_string(volumes.size()) + " volumes of " +
                                    volumes.front()
                              : "signed " + volumes.front());
  return kExitOk;
}

}  // namespace tvk::cli
