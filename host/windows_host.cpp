// quillmore-windows-host: the Windows reference host. A host of
// quillmore.dll, linked through its import library and using only the
// public header, it walks a device's road over a fresh DV folder beside
// itself on the real Windows API (module folder, volume serial, profile
// files, template copy, scripts, XML through a stylesheet) and removes the
// folder again. Prints one line per check and exits non-zero when one
// fails.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "quillmore/QuillmoreExt.h"

namespace {

int g_failures = 0;
std::string g_dv;  // the DV folder beside this program

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok) ++g_failures;
}

void Put(const std::string& name, const std::string& text) {
  std::ofstream(g_dv + "\\" + name, std::ios::binary) << text;
}

std::string Get(const std::string& name) {
  std::ifstream in(g_dv + "\\" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

template <typename F>
std::string Text(F get) {
  char buf[4096] = {};
  const uint32_t n = get(buf, sizeof buf);
  return std::string(buf, n);
}

}  // namespace

int main() {
  char exe[MAX_PATH];
  std::string dir(exe, GetModuleFileNameA(nullptr, exe, MAX_PATH));
  dir.resize(dir.rfind('\\'));
  g_dv = dir + "\\DV";
  std::filesystem::remove_all(g_dv);
  CreateDirectoryA(g_dv.c_str(), nullptr);
  CreateDirectoryA((dir + "\\jet").c_str(), nullptr);
  Put("textdb.tmp", "empty jet database");
  Put("table1.sql", "CREATE TABLE %s (f_id int)");
  Put("strip.xsl",
      "<xsl:stylesheet version='1.0' "
      "xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
      "<xsl:template match='/'><r><Total><xsl:value-of select='//t'/>"
      "</Total></r></xsl:template></xsl:stylesheet>");
  SetCurrentDirectoryA("C:\\");

  CQuillmoreExt q;
  Check(q.LoadData(1) == 1 && q.GetUseDatabase() == 0, "a missing file loads");
  q.SetUseDatabase(1, 1, 1, (dir + "\\jet\\").c_str(), nullptr, nullptr,
                   nullptr);
  char cwd[MAX_PATH];
  Check(std::string(cwd, GetCurrentDirectoryA(MAX_PATH, cwd)) == dir,
        "the program's folder is the current directory");
  Check(
      Get("devdata1.ini").find("[GENERAL]\r\nDATABASE=1\r\nDBTYPE=1\r\n") == 0,
      "settings written with CR LF: " + Get("devdata1.ini"));
  Check(Text([&](char* b, uint32_t n) {
          return q.GetConnectionString(b, n);
        }).find("Data Source=" + dir + "\\jet\\textdb1.mdb;") !=
            std::string::npos,
        "Jet connection string");

  DWORD serial = 0;
  GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr,
                        0);
  char want[64];
  std::snprintf(want, sizeof want, "TBL_TEXTDATAEX1_%lX", serial);
  Check(Text([&](char* b, uint32_t n) { return q.GetTableName(b, n); }) == want,
        std::string("table name carries the serial of C:\\: ") + want);
  Check(Text([&](char* b, uint32_t n) { return q.GetCreateQuery(1, b, n); }) ==
            std::string("CREATE TABLE ") + want + " (f_id int)",
        "CREATE TABLE from table1.sql");

  Check(q.CreateDatabase(1, 0, "Replace?") == 1, "CreateDatabase");
  std::string copied;
  {
    std::ifstream jet(dir + "\\jet\\textdb1.mdb", std::ios::binary);
    copied.assign(std::istreambuf_iterator<char>(jet), {});
  }
  Check(copied == "empty jet database", "template copied into place");

  _tagUSERTABLEINFO total = {};
  std::snprintf(total.szElement, sizeof total.szElement, "Total");
  total.dwFieldLen = 20;
  Check(q.SetUserTableElements(1, &total, 1) == 1, "user table set");
  q.SetXmlParserFile(1, (g_dv + "\\strip.xsl").c_str());
  const std::string insert = Text([&](char* b, uint32_t n) {
    return q.GetUserInsertQuery(7, "<in><t>12.50</t></in>", b, n);
  });
  Check(insert.find("'12.50'") != std::string::npos,
        "INSERT through the stylesheet: " + insert);

  // Without iconv, libxml2 reads its built-in encodings only.
  const std::string xsl =
      "<xsl:stylesheet version='1.0' "
      "xmlns:xsl='http://www.w3.org/1999/XSL/Transform'/>";
  Put("latin1.xsl", "<?xml version='1.0' encoding='ISO-8859-1'?>" + xsl);
  Put("cp1252.xsl", "<?xml version='1.0' encoding='windows-1252'?>" + xsl);
  Check(q.ValidateXslt((g_dv + "\\latin1.xsl").c_str()) == 1 &&
            q.ValidateXslt((g_dv + "\\cp1252.xsl").c_str()) == 0,
        "ISO-8859-1 stylesheets load, windows-1252 ones don't");

  CQuillmoreExt other;  // reads the file the first one wrote
  Check(other.GetDatabaseTypeEx(1) == 1 && other.GetUseXmlParser(1) == 1,
        "a second object reads the settings back");
  std::filesystem::remove_all(g_dv);
  std::filesystem::remove_all(dir + "\\jet");
  std::printf("%d failed\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}
