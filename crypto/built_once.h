// Tables computed on first use into zeroed memory rather than stored in the
// program file: the self-extractor stays small, and a table costs its
// building only where it is used.
#ifndef TVK_CRYPTO_BUILT_ONCE_H
#define TVK_CRYPTO_BUILT_ONCE_H

namespace tvk {

// T must be a plain record (zero-initialised, no constructor), so that no
// guard or static constructor comes with it.
template <typename T, void (*Make)(T&)>
const T& BuiltOnce() {
  static T table;
  static bool ready;
  if (!ready) {
    Make(table);
    ready = true;
  }
  return table;
}

}  // namespace tvk

#endif
