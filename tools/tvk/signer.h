// The signer key, its certificate and the digest kind, as tvk sign and
// tvk a --sign take them.
#ifndef TVK_TOOLS_SIGNER_H
#define TVK_TOOLS_SIGNER_H

#include <cstdint>
#include <functional>
#include <string>

#include "tools/tvk/args.h"
#include "writer/archive_writer.h"

namespace tvk::cli {

struct SignerSetup {
  std::string keyPem;
  Bytes certificate;      // 384 bytes
  uint16_t digestKind = 0;  // as the signature block stores it
};

// From --key/--sign, --cert, --digest (sha256 when not given) and --weak.
// usage tells whether a failure is one of the command line.
bool LoadSigner(const Args& args, SignerSetup* setup, std::string* error, bool* usage = nullptr);

using ArchiveSignerFn =
    std::function<bool(VolumeOutput& out, uint32_t volume, uint64_t signedLength, Bytes* record)>;
// The archive writer's signer for file outputs; error receives the reason
// of a failure.
ArchiveSignerFn MakeArchiveSigner(const SignerSetup& setup, std::string* error);

}  // namespace tvk::cli

#endif
