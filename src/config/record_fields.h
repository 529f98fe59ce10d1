// The fixed-size char fields of the interface records (szElement, szName,
// ...). A host may fill a field to its last byte and leave out the
// terminator, so nothing here reads past a field; what the library writes
// into one is always terminated.
#ifndef QUILLMORE_CONFIG_RECORD_FIELDS_H_
#define QUILLMORE_CONFIG_RECORD_FIELDS_H_

#include <cstddef>
#include <cstring>
#include <string_view>

namespace quillmore {

// The field's text: up to its first zero, at most N bytes.
template <std::size_t N>
std::string_view FieldView(const char (&field)[N]) {
  const void* zero = std::memchr(field, '\0', N);
  return std::string_view(
      field, zero == nullptr ? N : static_cast<const char*>(zero) - field);
}

// The field's text as a file gives it back: cut to N - 1 bytes.
template <std::size_t N>
std::string_view StoredView(const char (&field)[N]) {
  return FieldView(field).substr(0, N - 1);
}

// Copies `text` into the field, cut to N - 1 bytes and terminated.
template <std::size_t N>
void SetField(char (&field)[N], std::string_view text) {
  const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

}  // namespace quillmore

#endif  // QUILLMORE_CONFIG_RECORD_FIELDS_H_
