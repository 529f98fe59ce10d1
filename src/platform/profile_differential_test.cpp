// Our profile layer, built for this system, against Windows' own profile
// functions: profile_oracle.exe (tools/) runs GetPrivateProfileStringA,
// GetPrivateProfileIntA, GetPrivateProfileSectionNamesA and
// WritePrivateProfileStringA under Wine on the files of
// profile_differential_corpus.txt. Reads must agree value by value and
// listing by listing, edits byte for byte once Wine's way of rewriting a
// whole file is allowed for; every other difference is listed in the corpus
// with its reason, and a listed difference that no longer shows fails too.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "escaped_fields.h"
#include "platform/profile_document.h"
#include "platform/profile_encoding.h"
#include "platform/profile_integer.h"

namespace quillmore {
namespace {

// A corpus text: escaped bytes, or "utf-16le:"/"utf-16be:" and UTF-8.
std::string CorpusText(const std::string& field) {
  const std::string text = UnescapeField(field);
  for (const bool be : {false, true}) {
    const std::string tag = be ? "utf-16be:" : "utf-16le:";
    if (text.rfind(tag, 0) == 0) {
      return (be ? "\xFE\xFF" : "\xFF\xFE") +
             Utf8ToUtf16(text.substr(tag.size()), be);
    }
  }
  return text;
}

// Wine writes a whole profile file anew on every change, where Windows and
// we edit one line: CR LF line ends, no blank lines, no blanks around '='
// nor around a line, a header's text after ']' and a trailing Ctrl-Z
// dropped. Our text written Wine's way.
std::string AsWineWrites(const std::string& text) {
  const ProfileEncoding enc = DetectProfileEncoding(text);
  const bool utf16 =
      enc == ProfileEncoding::kUtf16Le || enc == ProfileEncoding::kUtf16Be;
  const bool be = enc == ProfileEncoding::kUtf16Be;
  std::string body = utf16 ? Utf16ToUtf8(text.substr(2), be) : text;
  std::string out = enc == ProfileEncoding::kUtf8Bom ? body.substr(0, 3) : "";
  body.erase(0, out.size());
  if (!body.empty() && body.back() == '\x1A') body.pop_back();
  const auto trim = [](std::string s) {
    s.erase(0, s.find_first_not_of(" \t\v\f\x1A"));
    return s.erase(s.find_last_not_of(" \t\v\f\x1A") + 1);
  };
  for (std::size_t pos = 0; pos < body.size();) {
    const std::size_t end =
        std::min(body.find_first_of("\r\n", pos), body.size());
    std::string line = trim(body.substr(pos, end - pos));
    pos = end + 1;
    const std::size_t eq = line.find('='), close = line.rfind(']');
    if (line.empty()) continue;
    if (line[0] == '[' && close != std::string::npos) {
      line = "[" + trim(line.substr(1, close - 1)) + "]";
    } else if (line[0] != ';' && eq != std::string::npos) {
      line = trim(line.substr(0, eq)) + "=" + trim(line.substr(eq + 1));
    }
    out += line + "\r\n";
  }
  return utf16 ? text.substr(0, 2) + Utf8ToUtf16(out, be) : out;
}

// Requests for the oracle, each with a name and what we answer ourselves.
struct Exchange {
  std::vector<std::string> requests, names;
  std::vector<std::function<std::string()>> ours;
  void Ask(std::string name, std::initializer_list<std::string> request,
           std::function<std::string()> answer) {
    std::string line;
    for (const std::string& f : request) line += "\t" + EscapeField(f);
    requests.push_back(line.substr(1));
    names.push_back(std::move(name));
    ours.push_back(std::move(answer));
  }
  // One oracle run; one answer line per request.
  std::vector<std::string> Run() const {
    char dir[] = "/tmp/quillmore-oracle-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return {};
    const std::string in = std::string(dir) + "/in", out = in + ".out";
    std::ofstream(in) << [&] {
      std::string all;
      for (const std::string& r : requests) all += r + "\n";
      return all;
    }();
    std::vector<std::string> answers;
    if (std::system(("wine '" +
                     std::string(std::getenv("QUILLMORE_PROFILE_ORACLE")) +
                     "' <" + in + " >" + out)
                        .c_str()) == 0) {
      std::ifstream file(out, std::ios::binary);
      for (std::string l; std::getline(file, l);) answers.push_back(l);
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
    ::rmdir(dir);
    return answers;
  }
};

std::string Listing(const std::vector<std::string_view>& names) {
  std::string line = std::to_string(names.size());
  for (std::string_view n : names) line += "\t" + EscapeField(n);
  return line;
}

std::vector<std::string_view> KeyNames(const ProfileDocument& doc,
                                       const std::string& section) {
  std::vector<std::string_view> names;
  doc.ForEachKey(doc.FindSection(section),
                 [&](std::string_view k, std::string_view) {
                   names.push_back(k);
                 });
  return names;
}

void AskReads(Exchange& x, const std::string& name, const std::string& text,
              std::set<std::pair<std::string, std::string>> probes) {
  auto doc = std::make_shared<const ProfileDocument>(text);
  x.Ask(name + " file", {"file", text}, [] { return "ok"; });
  x.Ask(name + " sections", {"sections"},
        [doc] { return Listing(doc->SectionNames()); });
  std::set<std::string> sections;
  for (std::string_view s : doc->SectionNames()) sections.emplace(s);
  for (const auto& p : probes) sections.insert(p.first);
  for (const std::string& s : sections) {
    x.Ask(name + " keys " + s, {"keys", s},
          [doc, s] { return Listing(KeyNames(*doc, s)); });
    for (std::string_view k : KeyNames(*doc, s)) probes.emplace(s, k);
    probes.emplace(s, "zz");
  }
  for (const auto& [s, k] : probes) {
    x.Ask(name + " get " + s + " " + k, {"get", s, k, "dflt"},
          [doc, s = s, k = k] {
            const std::optional<std::string_view> v = doc->Find(s, k);
            return EscapeField(v.value_or("dflt")) + "\t" +
                   std::to_string(v && !v->empty() ? ParseProfileInteger(*v)
                                                   : -77);
          });
  }
}

TEST(ProfileDifferentialTest, ReadsAndEditsAsWindowsProfileFunctions) {
  ASSERT_NE(std::getenv("QUILLMORE_PROFILE_ORACLE"), nullptr);
  Exchange x;
  std::set<std::string> known;  // where we differ from Windows on purpose
  std::ifstream corpus(QUILLMORE_PROFILE_CORPUS, std::ios::binary);
  for (std::string line; std::getline(corpus, line);) {
    const std::vector<std::string> f = SplitFields(line);
    if (f[0] == "read" && f.size() >= 3) {
      std::set<std::pair<std::string, std::string>> probes;
      for (std::size_t i = 3; i + 1 < f.size(); i += 2)
        probes.emplace(f[i], f[i + 1]);
      AskReads(x, f[1], CorpusText(f[2]), probes);
    } else if (f[0] == "known" && f.size() == 3) {
      known.insert(f[1]);
    } else if (f[0] == "edit" && f.size() >= 5) {
      const std::optional<std::string> text =
          f.size() > 5 ? std::optional(CorpusText(f[5])) : std::nullopt;
      if (text) {
        x.Ask("edit " + f[1] + " file", {"file", *text},
              [] { return "ok"; });
      } else {
        x.Ask("edit " + f[1] + " file", {"nofile"}, [] { return "ok"; });
      }
      x.Ask("edit " + f[1], {"write", f[2], f[3], f[4]},
            [f, before = text.value_or("")] {
              ProfileDocument doc(before);
              // Byte for byte where the file is as Wine writes files; Wine
              // leaves a file it need not change alone.
              const bool as_is =
                  !doc.Set(f[2], f[3], f[4]) || AsWineWrites(before) == before;
              return EscapeField(as_is ? doc.Text() : AsWineWrites(doc.Text()));
            });
    }
  }
  AskReads(x, "long lines",
           "[A]\nk=" + std::string(5000, 'v') + "\n;" +
               std::string(70000, 'c') + "\nj=" + std::string(40000, 'w'),
           {});
  x.Ask("quoted default", {"get", "A", "zz", "\"q\""},
        [] { return "\"q\"\t-77"; });

  const std::vector<std::string> answers = x.Run();
  ASSERT_EQ(answers.size(), x.requests.size()) << "profile_oracle.exe failed";
  ASSERT_GT(answers.size(), 200u);  // the corpus was read
  std::set<std::string> differing;
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const std::string mine = x.ours[i]();
    if (mine == answers[i]) continue;
    differing.insert(x.names[i]);
    EXPECT_EQ(known.count(x.names[i]), 1u)
        << x.names[i] << "\n  ours:    " << mine
        << "\n  windows: " << answers[i];
  }
  for (const std::string& name : known) {
    EXPECT_EQ(differing.count(name), 1u) << "no longer differs: " << name;
  }
}

}  // namespace
}  // namespace quillmore
