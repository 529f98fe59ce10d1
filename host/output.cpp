#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace qmhost {
namespace {

// Cells for a terminal: line ends shown as \n, cut to `width` characters.
std::string Cell(const Value& v, size_t width) {
  if (!v) return "NULL";
  std::string out;
  size_t chars = 0;
  for (size_t i = 0; i < v->size(); ++i) {
    const unsigned char c = static_cast<unsigned char>((*v)[i]);
    if ((c & 0xC0) != 0x80 && ++chars > width) {
      out += "…";
      break;
    }
    if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

size_t Width(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

}  // namespace

void PrintTable(const Rows& rows, long limit,
                const std::vector<size_t>& shown) {
  const size_t count = limit > 0 ? std::min<size_t>(limit, rows.values.size())
                                 : rows.values.size();
  std::vector<std::vector<std::string>> cells(count + 1);
  std::vector<size_t> widths(shown.size(), 0);
  for (size_t c = 0; c < shown.size(); ++c) {
    cells[0].push_back(rows.columns[shown[c]]);
    for (size_t r = 0; r < count; ++r) {
      const std::string& col = rows.columns[shown[c]];
      const size_t width = col == "f_text" || col == "f_xml" ? 40 : 24;
      cells[r + 1].push_back(Cell(rows.values[r][shown[c]], width));
    }
  }
  for (auto& line : cells) {
    for (size_t c = 0; c < line.size(); ++c)
      widths[c] = std::max(widths[c], Width(line[c]));
  }
  for (size_t r = 0; r < cells.size(); ++r) {
    std::string out;
    for (size_t c = 0; c < cells[r].size(); ++c) {
      out += (c ? " | " : "") + cells[r][c] +
             std::string(
                 c + 1 < cells[r].size() ? widths[c] - Width(cells[r][c]) : 0,
                 ' ');
    }
    std::printf("%s\n", out.c_str());
    if (r == 0) {
      std::string rule;
      for (size_t c = 0; c < widths.size(); ++c)
        rule += (c ? "-+-" : "") + std::string(widths[c], '-');
      std::printf("%s\n", rule.c_str());
    }
  }
  if (count < rows.values.size()) {
    std::printf("... and %zu more rows (--limit 0 shows all)\n",
                rows.values.size() - count);
  }
}

// Tab-separated, complete: \\, \t, \n and \r escaped, NULL as \N.
void PrintTsv(const Rows& rows, const std::vector<size_t>& shown) {
  auto field = [](const std::string& s) {
    std::string out;
    for (char c : s) {
      switch (c) {
        case '\\':
          out += "\\\\";
          break;
        case '\t':
          out += "\\t";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        default:
          out += c;
      }
    }
    return out;
  };
  std::string out;
  for (size_t c = 0; c < shown.size(); ++c)
    out += (c ? "\t" : "") + field(rows.columns[shown[c]]);
  std::printf("%s\n", out.c_str());
  for (const auto& row : rows.values) {
    out.clear();
    for (size_t c = 0; c < shown.size(); ++c) {
      out += c ? "\t" : "";
      out += row[shown[c]] ? field(*row[shown[c]]) : "\\N";
    }
    std::printf("%s\n", out.c_str());
  }
}

std::vector<size_t> AllColumns(const Rows& rows) {
  std::vector<size_t> all(rows.columns.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  return all;
}

long Column(const Rows& rows, const char* name) {
  for (size_t i = 0; i < rows.columns.size(); ++i) {
    if (rows.columns[i] == name) return static_cast<long>(i);
  }
  return -1;
}

// An argument as a POSIX shell reads it back.
std::string Quoted(const std::string& arg) {
  if (!arg.empty() &&
      arg.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                            "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                            "0123456789_-./=:,+@%") == std::string::npos) {
    return arg;
  }
  std::string out = "'";
  for (char c : arg)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

Progress::Progress(long long total_bytes)
    : on_(isatty(2) == 1), total_(total_bytes), start_(Clock::now()) {}

void Progress::Update(long records, unsigned long long bytes) {
  if (!on_ || (records & 255) != 0) return;
  const double t = Seconds();
  if (t - last_ < 0.1) return;
  last_ = t;
  Draw(records, bytes);
}

void Progress::Break() {
  if (drawn_) std::fputc('\n', stderr);
  drawn_ = false;
}

void Progress::Done(long records, unsigned long long bytes) {
  if (!on_) return;
  Draw(records, bytes);
  Break();
}

double Progress::Seconds() const {
  return std::chrono::duration<double>(Clock::now() - start_).count();
}

void Progress::Draw(long records, unsigned long long bytes) {
  const double t = Seconds();
  const double rate = t > 0 ? records / t : 0;
  if (total_ > 0) {
    const double part = std::min<double>(bytes, total_) / total_;
    const int fill = static_cast<int>(30.0 * part);
    std::fprintf(stderr, "\r[%s%s] %3d%%  %ld records  %.0f/s ",
                 std::string(fill, '#').c_str(),
                 std::string(30 - fill, '.').c_str(),
                 static_cast<int>(100.0 * part), records, rate);
  } else {
    std::fprintf(stderr, "\r%ld records  %.0f/s ", records, rate);
  }
  drawn_ = true;
}

}  // namespace qmhost
