#include "records.h"

#include <poll.h>
#include <simdjson.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>

#include "engine.h"

namespace qmhost {
namespace {

void AppendString(std::string& out, std::string_view s) {
  out += '"';
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\u%04x", u);
          out += hex;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

// The offset of the first byte that does not begin a well-formed UTF-8
// sequence (overlong forms and surrogates are not), or the size.
size_t BadUtf8(std::string_view s) {
  static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80         ? 1
                     : (c >> 5) == 6  ? 2
                     : (c >> 4) == 14 ? 3
                     : (c >> 3) == 30 ? 4
                                      : 0;
    if (n == 0 || i + n > s.size()) return i;
    uint32_t cp = n == 1 ? c : c & (0x7Fu >> n);
    for (size_t k = 1; k < n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return i;
      cp = cp << 6 | (d & 0x3F);
    }
    if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000))
      return i;
    i += n;
  }
  return s.size();
}

// The offset of the first control character inside a string, or the size.
size_t ControlInString(std::string_view s) {
  bool inside = false;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (inside && c == '\\') {
      ++i;
    } else if (c == '"') {
      inside = !inside;
    } else if (inside && c < 0x20) {
      return i;
    }
  }
  return s.size();
}

// One line read with simdjson's on-demand parser, which keeps its buffers
// between lines (one per thread). Errors name the field and the byte.
class LineParser {
 public:
  bool Parse(std::string_view line, Record& record, std::string& error) {
    // The parser reads a few bytes past the end.
    buf_.assign(line);
    buf_.reserve(line.size() + simdjson::SIMDJSON_PADDING);
    key_.clear();
    Record r;
    std::set<std::string, std::less<>> seen;
    bool ok = Read(r, seen);
    for (const char* required : {"date", "camera", "text"}) {
      if (ok && seen.count(required) == 0) {
        error_ = std::string("no '") + required + "'";
        ok = false;
      }
    }
    if (!ok) {
      error = std::move(error_);
      return false;
    }
    record = std::move(r);
    return true;
  }

 private:
  using Error = simdjson::error_code;

  bool Read(Record& r, std::set<std::string, std::less<>>& seen) {
    simdjson::ondemand::document doc;
    Error e =
        parser_.iterate(buf_.data(), buf_.size(), buf_.capacity()).get(doc);
    if (e == simdjson::UTF8_ERROR) {
      return Fail("invalid UTF-8", BadUtf8(buf_));
    }
    if (e == simdjson::UNESCAPED_CHARS) {
      return Fail("a control character inside a string", ControlInString(buf_));
    }
    if (e == simdjson::UNCLOSED_STRING) {
      return Fail("a string without its closing quote", buf_.size());
    }
    const size_t first = buf_.find_first_not_of(" \t\r\n");
    if (e != simdjson::SUCCESS || first == std::string::npos ||
        buf_[first] != '{') {
      return Fail("a record is one JSON object", 0);
    }
    simdjson::ondemand::object object;
    if ((e = doc.get_object().get(object)) != simdjson::SUCCESS) {
      // The parser looks at the document's last token first.
      return Fail(e == simdjson::INCOMPLETE_ARRAY_OR_OBJECT
                      ? "text after the record, or no closing '}'"
                      : Say(e),
                  buf_.find_last_not_of(" \t\r\n"));
    }
    for (auto item : object) {
      simdjson::ondemand::field field;
      std::string_view key;
      if ((e = std::move(item).get(field)) != simdjson::SUCCESS ||
          (e = field.unescaped_key().get(key)) != simdjson::SUCCESS) {
        return Fail(Say(e), At(doc));
      }
      key_ = key;
      if (!seen.emplace(key).second) return Fail("appears twice", At(doc));
      simdjson::ondemand::value value = field.value();
      simdjson::ondemand::json_type type;
      if ((e = value.type().get(type)) != simdjson::SUCCESS) {
        return Fail(Say(e), At(doc));
      }
      if (type == simdjson::ondemand::json_type::null && key != "text" &&
          key != "date") {
        // null: as if absent
        if (!value.is_null()) return Fail("a value was expected", At(doc));
        seen.erase(seen.find(key));
      } else if (key == "camera" || key == "savepos") {
        const bool camera = key == "camera";
        int64_t number = 0;
        e = value.get_int64().get(number);
        if (e == simdjson::INCORRECT_TYPE || e == simdjson::NUMBER_ERROR) {
          return Fail("a whole number was expected", At(doc));
        }
        if (e != simdjson::SUCCESS || number < (camera ? INT32_MIN : 0) ||
            number > (camera ? INT32_MAX : UINT32_MAX)) {
          return Fail("a number out of range", At(doc));
        }
        if (camera) {
          r.camera = static_cast<int>(number);
        } else {
          r.savepos = static_cast<uint32_t>(number);
        }
      } else if (std::string* slot = key == "date"       ? &r.date
                                     : key == "systime"  ? &r.systime
                                     : key == "text"     ? &r.text
                                     : key == "savepath" ? &r.savepath
                                                         : nullptr;
                 slot != nullptr || key == "xml") {
        std::string_view text;
        if ((e = value.get_string().get(text)) != simdjson::SUCCESS) {
          return Fail(
              e == simdjson::INCORRECT_TYPE ? "a string was expected" : Say(e),
              At(doc));
        }
        // The library takes C strings.
        if (text.find('\0') != std::string_view::npos) {
          return Fail("a zero character (\\u0000)", At(doc));
        }
        if (slot != nullptr) {
          slot->assign(text);
        } else {
          r.xml.emplace(text);
        }
      } else if (!Skip(value, type)) {
        return Fail(type == simdjson::ondemand::json_type::object ||
                            type == simdjson::ondemand::json_type::array
                        ? "nested values are not record fields"
                        : "no JSON value",
                    At(doc));
      }
      key_.clear();
    }
    // The object has been read through; anything after it is an error.
    const char* end = nullptr;
    if (doc.current_location().get(end) != simdjson::OUT_OF_BOUNDS) {
      return Fail("text after the record", At(doc));
    }
    return true;
  }

  // A scalar of a key that is no record field, read to check it.
  static bool Skip(simdjson::ondemand::value& value,
                   simdjson::ondemand::json_type type) {
    using Type = simdjson::ondemand::json_type;
    std::string_view text;
    double number = 0;
    bool flag = false;
    switch (type) {
      case Type::string:
        return value.get_string().get(text) == simdjson::SUCCESS;
      case Type::number:
        return value.get_double().get(number) == simdjson::SUCCESS;
      case Type::boolean:
        return value.get_bool().get(flag) == simdjson::SUCCESS;
      case Type::null:
        return value.is_null();
      default:
        return false;
    }
  }

  static std::string Say(Error e) {
    if (e == simdjson::STRING_ERROR) {
      return "a bad escape in a string (unknown, or a lone surrogate)";
    }
    return std::string("not JSON (") + simdjson::error_message(e) + ")";
  }

  // Where the parser stands, as an offset into the line.
  size_t At(simdjson::ondemand::document& doc) {
    const char* here = nullptr;
    if (doc.current_location().get(here) != simdjson::SUCCESS)
      return buf_.size();
    return static_cast<size_t>(here - buf_.data());
  }

  bool Fail(const std::string& what, size_t offset) {
    error_ = (key_.empty() ? "" : "'" + key_ + "': ") + what + " at byte " +
             std::to_string(std::min(offset, buf_.size()) + 1);
    return false;
  }

  simdjson::ondemand::parser parser_;
  std::string buf_;
  std::string key_;  // the field being read, for messages
  std::string error_;
};

}  // namespace

std::string ToJsonLine(const Record& r) {
  std::string out = "{\"date\":";
  AppendString(out, r.date);
  out += ",\"systime\":";
  AppendString(out, r.systime);
  out += ",\"camera\":" + std::to_string(r.camera) + ",\"text\":";
  AppendString(out, r.text);
  if (r.xml) {
    out += ",\"xml\":";
    AppendString(out, *r.xml);
  }
  out += ",\"savepath\":";
  AppendString(out, r.savepath);
  out += ",\"savepos\":" + std::to_string(r.savepos) + "}";
  return out;
}

Fd::~Fd() {
  if (fd_ > 2) close(fd_);
}

bool LineReader::Next(std::string& line, bool& too_long) {
  line.clear();
  too_long = false;
  bool any = false;
  while (true) {
    if (pos_ == len_) {
      // A stop that comes between this check and the read makes the stop
      // descriptor readable, so the wait for input never outlasts it.
      if (StopRequested()) return false;
      pollfd wait[2] = {{fd_, POLLIN, 0}, {StopDescriptor(), POLLIN, 0}};
      if (poll(wait, wait[1].fd >= 0 ? 2 : 1, -1) < 0 && errno == EINTR)
        continue;
      if (wait[1].revents != 0) return false;
      const ssize_t n = read(fd_, buf_, sizeof buf_);
      if (n < 0 && errno == EINTR && !StopRequested()) continue;
      if (n < 0 && errno != EINTR) error = errno;
      len_ = n > 0 ? static_cast<size_t>(n) : 0;
      pos_ = 0;
      if (len_ == 0) return any && error == 0 && !StopRequested();
    }
    any = true;
    const char* start = buf_ + pos_;
    const void* nl = std::memchr(start, '\n', len_ - pos_);
    const size_t take = nl ? static_cast<const char*>(nl) - start : len_ - pos_;
    consumed += take + (nl ? 1 : 0);
    if (line.size() + take > kMaxLine) {
      too_long = true;
    } else {
      line.append(start, take);
    }
    pos_ += take + (nl ? 1 : 0);
    if (nl) return true;
  }
}

bool IsDateTime(std::string_view s) {
  if (s.size() != 19) return false;
  int n[6] = {0};
  for (size_t i = 0, k = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (i == 4 || i == 7 || i == 10 || i == 13 || i == 16) {
      if (c != " -:"[i == 10 ? 0 : i < 10 ? 1 : 2]) return false;
      ++k;
    } else if (c < '0' || c > '9') {
      return false;
    } else {
      n[k] = n[k] * 10 + (c - '0');
    }
  }
  const int year = n[0], month = n[1], day = n[2];
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return year >= 1 && month >= 1 && month <= 12 && day >= 1 &&
         day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0) && n[3] <= 23 &&
         n[4] <= 59 && n[5] <= 59;
}

bool DateBound(std::string_view date, bool last, std::string& out) {
  out = date;
  if (date.size() == 10) out += last ? " 23:59:59" : " 00:00:00";
  return IsDateTime(out);
}

bool ParseJsonLine(std::string_view line, Record& record, std::string& error) {
  thread_local LineParser parser;
  return parser.Parse(line, record, error);
}

}  // namespace qmhost
