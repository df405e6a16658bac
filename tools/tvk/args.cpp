#include "tools/tvk/args.h"

#include <algorithm>
#include <cctype>

namespace tvk::cli {

std::optional<uint64_t> ParseSize(const std::string& text) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
  uint64_t value = 0;
  size_t i = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + uint64_t(text[i] - '0');
  }
  uint64_t unit = 1;
  if (i < text.size()) {
    switch (std::tolower(static_cast<unsigned char>(text[i]))) {
      case 'b': unit = 1; break;
      case 'k': unit = 1024; break;
      case 'm': unit = 1024 * 1024; break;
      case 'g': unit = 1024ull * 1024 * 1024; break;
      default: return std::nullopt;
    }
    if (++i != text.size()) return std::nullopt;
  }
  if (value > UINT64_MAX / unit) return std::nullopt;
  return value * unit;
}

bool ParseArgs(int argc, char** argv, int first, const std::vector<std::string>& allowed,
               Args* args, std::string* error) {
  const auto takes = [&](const std::string& name) {
    return std::find(allowed.begin(), allowed.end(), name) != allowed.end();
  };
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      args->positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    // Options with a separate value.
    const auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        *error = "option " + a + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string name = a.substr(0, 2);
    if (a.rfind("--", 0) == 0) name = a;
    if (a.rfind("-mt", 0) == 0) name = "-mt";
    if (name != "-q" && name != "-h" && name != "--help" && !takes(name)) {
      *error = "unknown option " + a;
      return false;
    }
    std::string v;
    if (name == "-h" || name == "--help") {
      args->help = true;
    } else if (name == "-q" && a == "-q") {
      args->quiet = true;
    } else if (name == "-mt") {
      auto n = ParseSize(a.substr(3));
      if (a.size() == 3 || !n || *n == 0 || *n > 64 || a.find_first_not_of("0123456789", 3) != std::string::npos) {
        *error = "the threads are -mt1 to -mt64, not " + a;
        return false;
      }
      args->threads = static_cast<unsigned>(*n);
    } else if (name == "-m") {
      if (a.size() != 3 || a[2] < '0' || a[2] > '4') {
        *error = "the level is -m0 (store) to -m4 (best), not " + a;
        return false;
      }
      args->level = a[2] - '0';
    } else if (name == "-s" && a == "-s") {
      args->solid = true;
    } else if (name == "-v") {
      auto size = ParseSize(a.substr(2));
      if (!size || *size == 0) {
        *error = "volume size " + a.substr(2) + " is not a size such as 10m (units b, k, m, g)";
        return false;
      }
      args->volumeSize = size;
    } else if (name == "-p") {
      args->passwordGiven = true;
      args->password = a.substr(2);
    } else if (name == "-f" && a == "-f") {
      args->force = true;
    } else if (name == "-y" && a == "-y") {
      args->yes = true;
    } else if (name == "-c" && a == "-c") {
      if (!value(&v)) return false;
      args->comment = v;
    } else if (name == "-z" && a == "-z") {
      if (!value(&v)) return false;
      args->commentFile = v;
    } else if (name == "-o") {
      if (a.size() > 2) {
        args->outputDir = a.substr(2);
      } else {
        if (!value(&v)) return false;
        args->outputDir = v;
      }
    } else if (name == "--aes128") {
      args->aes128 = true;
    } else if (name == "--encrypt-headers") {
      args->encryptHeaders = true;
    } else if (name == "--no-verify") {
      args->noVerify = true;
    } else if ((name == "-L" && a == "-L") || name == "--dereference") {
      args->dereference = true;
    } else if (name == "--sign" || name == "--key") {
      if (!value(&v)) return false;
      args->signKey = v;
    } else if (name == "--cert") {
      if (!value(&v)) return false;
      args->cert = v;
    } else if (name == "--sfx") {
      if (!value(&v)) return false;
      args->sfx = v;
    } else if (name == "--settings") {
      if (!value(&v)) return false;
      args->settings = v;
    } else if (name == "--language") {
      if (!value(&v)) return false;
      args->language = v;
    } else if (name == "--icon") {
      if (!value(&v)) return false;
      args->icon = v;
    } else if (name == "--version") {
      if (!value(&v)) return false;
      args->versionFields.push_back(v);
    } else if (name == "--elevation") {
      if (!value(&v)) return false;
      args->elevation = v;
    } else if (name == "--name") {
      if (!value(&v)) return false;
      args->name = v;
    } else if (name == "--digest") {
      if (!value(&v)) return false;
      args->digest = v;
    } else if (name == "-n" && a == "-n") {
      args->neverReplace = true;
    } else if (name == "-x" || name == "--exclude") {
      if (name == "-x" && a.size() > 2) {
        v = a.substr(2);
      } else if (!value(&v)) {
        return false;
      }
      args->excludes.push_back(v);
    } else if (name == "--weak" && a == "--weak") {
      args->weak = true;
    } else if (name == "--bits") {
      if (!value(&v)) return false;
      auto n = ParseSize(v);
      if (!n || *n > 65535) {
        *error = "--bits needs a number of bits";
        return false;
      }
      args->bits = static_cast<uint32_t>(*n);
    } else {
      *error = "unknown option " + a;
      return false;
    }
  }
  return true;
}

}  // namespace tvk::cli
