// The encodings a profile file may come in. Windows reads a file that
// starts with a byte-order mark of UTF-16 (Notepad's "Unicode") as UTF-16;
// we read and edit such a file as UTF-8 and write it back in UTF-16, so
// every byte that an edit does not touch stays as it was.
#ifndef QUILLMORE_PROFILE_PROFILE_ENCODING_H_
#define QUILLMORE_PROFILE_PROFILE_ENCODING_H_

#include <string>
#include <string_view>

namespace quillmore {

enum class ProfileEncoding {
  kBytes,    // no byte-order mark: single-byte text as it stands
  kUtf8Bom,  // a UTF-8 byte-order mark
  kUtf16Le,  // FF FE
  kUtf16Be,  // FE FF
};

ProfileEncoding DetectProfileEncoding(std::string_view bytes);

// UTF-16 code units (without a byte-order mark) as UTF-8. A surrogate
// without its partner keeps a three-byte form of its own (WTF-8), so that
// Utf8ToUtf16 gives back the same units; an odd last byte is left out.
std::string Utf16ToUtf8(std::string_view units, bool big_endian);

// UTF-8 as UTF-16 code units (no byte-order mark). The three-byte form of a
// lone surrogate gives that surrogate; a byte that is not part of a UTF-8
// sequence gives U+FFFD.
std::string Utf8ToUtf16(std::string_view utf8, bool big_endian);

}  // namespace quillmore

#endif  // QUILLMORE_PROFILE_PROFILE_ENCODING_H_
