#include "records.h"

#include <cstdio>
#include <set>

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

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A reader of one flat JSON object. Each step consumes input, so the work
// is linear in the line's length.
class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}

  void Blanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' ||
                              s_[i_] == '\r' || s_[i_] == '\n')) {
      ++i_;
    }
  }
  bool Take(char c) {
    Blanks();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool AtEnd() {
    Blanks();
    return i_ == s_.size();
  }
  char Peek() {
    Blanks();
    return i_ < s_.size() ? s_[i_] : '\0';
  }

  bool String(std::string& out) {
    out.clear();
    if (!Take('"')) return Fail("a string was expected");
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) {
        return Fail("a control character inside a string");
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ == s_.size()) break;
      const char e = s_[i_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00) {
            uint32_t low = 0;
            if (i_ + 2 > s_.size() || s_[i_] != '\\' || s_[i_ + 1] != 'u') {
              return Fail("a lone surrogate in \\u escapes");
            }
            i_ += 2;
            if (!Hex4(low)) return false;
            if (low < 0xDC00 || low >= 0xE000) {
              return Fail("a lone surrogate in \\u escapes");
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            return Fail("a lone surrogate in \\u escapes");
          }
          if (cp == 0) return Fail("a zero character (\\u0000)");
          AppendUtf8(out, cp);
          break;
        }
        default:
          return Fail("an unknown escape in a string");
      }
    }
    return Fail("a string without its closing quote");
  }

  // An integer in [lo, hi].
  bool Integer(long long lo, long long hi, long long& out) {
    Blanks();
    const size_t start = i_;
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    long long v = 0;
    size_t digits = 0;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
      if (++digits > 12) return Fail("a number out of range");
      v = v * 10 + (s_[i_++] - '0');
    }
    if (digits == 0) return Fail("a number was expected");
    if (i_ < s_.size() && (s_[i_] == '.' || s_[i_] == 'e' || s_[i_] == 'E')) {
      return Fail("a whole number was expected");
    }
    if (s_[start] == '-') v = -v;
    if (v < lo || v > hi) return Fail("a number out of range");
    out = v;
    return true;
  }

  // Any scalar value of a key we don't read.
  bool SkipScalar() {
    const char c = Peek();
    if (c == '"') {
      std::string ignored;
      return String(ignored);
    }
    if (c == '{' || c == '[')
      return Fail("nested values are not record fields");
    for (const char* word : {"true", "false", "null"}) {
      if (s_.substr(i_).starts_with(word)) {
        i_ += std::string_view(word).size();
        return true;
      }
    }
    long long ignored = 0;
    Blanks();
    while (i_ < s_.size() && std::string_view("+-.eE0123456789").find(s_[i_]) !=
                                 std::string_view::npos) {
      ++i_;
      ignored = 1;
    }
    return ignored != 0 || Fail("a value was expected");
  }

  bool Fail(const std::string& what) {
    if (error.empty()) error = what + " at byte " + std::to_string(i_ + 1);
    return false;
  }

  std::string error;

 private:
  bool Hex4(uint32_t& out) {
    if (i_ + 4 > s_.size()) return Fail("a short \\u escape");
    out = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[i_++];
      out <<= 4;
      if (c >= '0' && c <= '9') {
        out |= c - '0';
      } else if (c >= 'a' && c <= 'f') {
        out |= c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        out |= c - 'A' + 10;
      } else {
        return Fail("a bad \\u escape");
      }
    }
    return true;
  }

  std::string_view s_;
  size_t i_ = 0;
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

bool ParseJsonLine(std::string_view line, Record& record, std::string& error) {
  Reader in(line);
  Record r;
  std::set<std::string> seen;
  bool ok = in.Take('{') || in.Fail("a record is one JSON object");
  if (ok && !in.Take('}')) {
    do {
      std::string key, value;
      long long number = 0;
      ok = in.String(key) && (in.Take(':') || in.Fail("':' was expected"));
      if (ok && !seen.insert(key).second) ok = in.Fail("'" + key + "' twice");
      if (!ok) break;
      if (in.Peek() == 'n' && key != "text" && key != "date") {
        ok = in.SkipScalar();  // null: as if absent
        seen.erase(key);
      } else if (key == "camera") {
        ok = in.Integer(-2147483648LL, 2147483647LL, number);
        r.camera = static_cast<int>(number);
      } else if (key == "savepos") {
        ok = in.Integer(0, 4294967295LL, number);
        r.savepos = static_cast<uint32_t>(number);
      } else if (key == "date" || key == "systime" || key == "text" ||
                 key == "xml" || key == "savepath") {
        ok = in.String(value);
        if (key == "date") r.date = value;
        if (key == "systime") r.systime = value;
        if (key == "text") r.text = value;
        if (key == "xml") r.xml = value;
        if (key == "savepath") r.savepath = value;
      } else {
        ok = in.SkipScalar();
      }
    } while (ok && in.Take(','));
    ok = ok && (in.Take('}') || in.Fail("',' or '}' was expected"));
  }
  ok = ok && (in.AtEnd() || in.Fail("text after the record"));
  for (const char* required : {"date", "camera", "text"}) {
    if (ok && seen.count(required) == 0) {
      in.error = std::string("no '") + required + "'";
      ok = false;
    }
  }
  if (!ok) {
    error = in.error;
    return false;
  }
  record = std::move(r);
  return true;
}

}  // namespace qmhost
