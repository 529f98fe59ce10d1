// Our profile layer, built for this system, against Windows' own profile
// functions: profile_oracle.exe (tools/) runs GetPrivateProfileStringA,
// GetPrivateProfileIntA, GetPrivateProfileSectionNamesA and
// WritePrivateProfileStringA under Wine on the files of
// profile_differential_corpus.txt. Reads must agree value by value and
// listing by listing, edits byte for byte; every other difference is listed
// in the corpus with its reason, and a listed difference that no longer
// shows fails too.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "escaped_fields.h"
#include "profile/profile_document.h"
#include "profile/profile_encoding.h"
#include "profile/profile_integer.h"

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

std::string Listing(const std::vector<std::string_view>& names) {
  std::string line = std::to_string(names.size());
  for (std::string_view n : names) line += "\t" + EscapeField(n);
  return line;
}

using Fields = std::vector<std::string>;

// Requests for the oracle, one a line, each with a name and our answer.
struct Exchange {
  std::string requests;
  std::vector<std::pair<std::string, std::string>> ours;
  void Ask(std::string name, const Fields& request, std::string answer) {
    for (const std::string& f : request) requests += EscapeField(f) + "\t";
    requests.back() = '\n';
    ours.emplace_back(std::move(name), std::move(answer));
  }
  // One oracle run; one answer line per request.
  std::vector<std::string> Run() const {
    char in[] = "/tmp/quillmore-oracle-XXXXXX";
    const int fd = ::mkstemp(in);
    if (fd < 0) return {};
    const bool written = ::write(fd, requests.data(), requests.size()) ==
                         static_cast<ssize_t>(requests.size());
    ::close(fd);
    std::string all;
    FILE* out = ::popen(
        ("wine '" + std::string(std::getenv("QUILLMORE_PROFILE_ORACLE")) +
         "' <" + in)
            .c_str(),
        "r");
    char buf[65536];
    for (std::size_t n; out && (n = std::fread(buf, 1, sizeof buf, out)) > 0;)
      all.append(buf, n);
    const bool ok = written && out && ::pclose(out) == 0;
    std::remove(in);
    std::vector<std::string> answers;
    for (std::size_t pos = 0, end; ok && pos < all.size(); pos = end + 1) {
      end = std::min(all.find('\n', pos), all.size());
      answers.push_back(all.substr(pos, end - pos));
    }
    return answers;
  }
};

void AskReads(Exchange& x, const std::string& name, const std::string& text,
              std::set<std::pair<std::string, std::string>> probes) {
  const ProfileDocument doc(text);
  x.Ask(name + " file", {"file", text}, "ok");
  x.Ask(name + " sections", {"sections"}, Listing(doc.SectionNames()));
  std::set<std::string> sections;
  for (std::string_view s : doc.SectionNames()) sections.emplace(s);
  for (const auto& p : probes) sections.insert(p.first);
  for (const std::string& s : sections) {
    std::vector<std::string_view> keys;
    doc.ForEachKey(
        doc.FindSection(s),
        [&](std::string_view k, std::string_view) { keys.push_back(k); });
    x.Ask(name + " keys " + s, {"keys", s}, Listing(keys));
    for (std::string_view k : keys) probes.emplace(s, k);
    probes.emplace(s, "zz");
  }
  for (const auto& [s, k] : probes) {
    const std::optional<std::string_view> v = doc.Find(s, k);
    x.Ask(name + " get " + s + " " + k, {"get", s, k, "dflt"},
          EscapeField(v.value_or("dflt")) + "\t" +
              std::to_string(v && !v->empty() ? ParseProfileInteger(*v) : -77));
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
      x.Ask("edit " + f[1] + " file",
            f.size() > 5 ? Fields{"file", CorpusText(f[5])} : Fields{"nofile"},
            "ok");
      // Wine writes a whole file anew: our edit of it as Wine writes it.
      ProfileDocument doc(CorpusText(f.size() > 5 ? f.back() : ""));
      doc.Set(f[2], f[3], f[4]);
      x.Ask("edit " + f[1], {"write", f[2], f[3], f[4]},
            EscapeField(doc.Text()));
    }
  }
  AskReads(x, "long lines",
           "[A]\nk=" + std::string(5000, 'v') + "\n;" +
               std::string(70000, 'c') + "\nj=" + std::string(40000, 'w'),
           {});
  x.Ask("quoted default", {"get", "A", "zz", "\"q\""}, "\"q\"\t-77");

  const std::vector<std::string> answers = x.Run();
  ASSERT_EQ(answers.size(), x.ours.size()) << "profile_oracle.exe failed";
  ASSERT_GT(answers.size(), 200u);  // the corpus was read
  std::set<std::string> differing;
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const auto& [name, mine] = x.ours[i];
    if (mine == answers[i]) continue;
    differing.insert(name);
    EXPECT_EQ(known.count(name), 1u)
        << name << "\n  ours:    " << mine << "\n  windows: " << answers[i];
  }
  for (const std::string& name : known) {
    EXPECT_EQ(differing.count(name), 1u) << "no longer differs: " << name;
  }
}

}  // namespace
}  // namespace quillmore
