// quillmore: the administration CLI. It reads and changes the device
// configurations in the DV folder beside this executable and previews every
// statement the library makes from them; it runs none. It uses only the
// public interface.
//
// Two rules hold for every command. Paths on the command line are made
// absolute before the first library call, since the library sets the
// process's current folder to the executable's. A write is reported only
// after the device's file, read afresh, holds what was written.
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#undef DeleteFile
#endif

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "device_check.h"
#include "library_text.h"
#include "notation.h"
#include "quillmore/QuillmoreExt.h"
#include "search_args.h"

#ifndef QUILLMORE_VERSION
#define QUILLMORE_VERSION "unknown"
#endif

namespace {

namespace fs = std::filesystem;
using quillmore_tools::BatchText;
using quillmore_tools::RecordText;

int Fail(const std::string& message) {
  std::fprintf(stderr, "quillmore: %s\n", message.c_str());
  return 2;
}

int Nothing(const std::string& message) {
  std::fprintf(stderr, "quillmore: %s\n", message.c_str());
  return 1;
}

void Warn(const std::string& message) {
  std::fprintf(stderr, "quillmore: warning: %s\n", message.c_str());
}

void Line(const char* label, const std::string& value) {
  std::printf("%-20s %s\n", label, value.empty() ? "(none)" : value.c_str());
}

void Block(const char* title, const std::string& sql) {
  std::printf("\n-- %s\n%s\n", title, sql.empty() ? "(none)" : sql.c_str());
}

// The operands and options of every command; each command binds the ones
// it takes (see kCommands).
struct Args {
  int device = 0, index = 0, camera = 0, id = 0, use = 0, type = 0;
  uint32_t savepos = 0;
  std::string file, from, to, text, statement, xml, systime, savepath;
  std::vector<std::string> list;   // DEFS, FIELD=VALUE, TERM, SETTING, ARGS
  std::vector<std::string> given;  // the options given, as --name
  bool or_mode = false, and_mode = false, yes = false;
};

bool ReadAll(const std::string& file, std::string& out) {
  if (file == "-") {
    out.assign(std::istreambuf_iterator<char>(std::cin),
               std::istreambuf_iterator<char>());
    return true;
  }
  std::error_code error;
  if (fs::is_directory(file, error)) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return true;
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path == "-") return path;
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

// The DV folder beside this executable, where the library looks.
std::string DvFolder() {
  char path[4096];
#ifdef _WIN32
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return "DV";
  std::string exe(path, n);
  return exe.substr(0, exe.rfind('\\')) + "\\DV";
#else
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "DV";
  std::string exe(path, static_cast<size_t>(n));
  return exe.substr(0, exe.rfind('/')) + "/DV";
#endif
}

std::string DeviceFile(int device) {
  return (fs::path(DvFolder()) / ("devdata" + std::to_string(device) + ".ini"))
      .string();
}

// ------------------------------------------------------------ read back

struct Setting {
  std::string label, value;
};
using Settings = std::vector<Setting>;

std::string Shown(const Setting& s) {
  if (s.label == "password") {
    return s.value.empty()
               ? "(none)"
               : "(" + std::to_string(s.value.size()) + " characters)";
  }
  return "'" + s.value + "'";
}

// After a write: 0 when the device's file, read afresh into `got`, holds
// what was written (`want`, the same labels); else 1, the first setting
// that differs named.
int Verify(int device, const Settings& want, const Settings& got) {
  std::error_code error;
  const std::string file = DeviceFile(device);
  if (!fs::exists(file, error)) {
    return Nothing("nothing was stored: " + file +
                   " was not written (is the DV folder there, may it be "
                   "written?)");
  }
  for (size_t i = 0; i < want.size() || i < got.size(); ++i) {
    const Setting none{i < want.size() ? want[i].label : got[i].label,
                       "(none)"};
    const Setting& w = i < want.size() ? want[i] : none;
    const Setting& g = i < got.size() ? got[i] : none;
    if (w.value == g.value) continue;
    return Nothing("device " + std::to_string(device) +
                   " was not stored as given: " + w.label + " reads " +
                   Shown(g) + " from " + file + ", not " + Shown(w) +
                   " (a value the file can't hold, a DV folder that can't "
                   "be written, a full disk?)");
  }
  return 0;
}

// ------------------------------------------------------------ settings

using Getter = uint32_t (CQuillmoreExt::*)(char*, uint32_t);

std::string Text(CQuillmoreExt& q, Getter get) {
  return RecordText([&](char* b, uint32_t n) { return (q.*get)(b, n); });
}

// The connection string with the password in it masked.
std::string MaskPassword(std::string connection, const std::string& password) {
  if (password.empty()) return connection;
  for (const std::string key : {"PWD=", "Password="}) {
    for (size_t at = connection.find(key + password); at != std::string::npos;
         at = connection.find(key + password, at + 1)) {
      connection.replace(at + key.size(), password.size(), "***");
    }
  }
  return connection;
}

// The loaded device's values that go into its connection string unquoted.
void ConnectionWarnings(CQuillmoreExt& q, std::vector<std::string>& out) {
  const struct {
    const char* label;
    Getter get;
  } values[] = {{"the Jet folder", &CQuillmoreExt::GetDatabasePath},
                {"the server", &CQuillmoreExt::GetDatabaseServer},
                {"the database name", &CQuillmoreExt::GetDatabaseName},
                {"the user", &CQuillmoreExt::GetDatabaseUser},
                {"the password", &CQuillmoreExt::GetDatabasePassword}};
  for (const auto& v : values) {
    // A Jet string carries the file's path only.
    if (q.GetDatabaseType() == 1 && v.get != &CQuillmoreExt::GetDatabasePath)
      continue;
    const std::string value = Text(q, v.get);
    const size_t at = value.find_first_of(";{}");
    if (at != std::string::npos) {
      out.push_back(std::string(v.label) + " holds '" + value[at] +
                    "': the connection string can't carry it as given");
    }
  }
}

int Show(int device) {
  CQuillmoreExt q;
  q.LoadData(device);
  std::printf("device %d\n", device);
  std::printf("%-20s %d\n", "use database", q.GetUseDatabase());
  std::printf("%-20s %d\n", "database type", q.GetDatabaseType());
  Line("database name", Text(q, &CQuillmoreExt::GetDatabaseName));
  Line("database server", Text(q, &CQuillmoreExt::GetDatabaseServer));
  Line("database path", Text(q, &CQuillmoreExt::GetDatabasePath));
  Line("user", Text(q, &CQuillmoreExt::GetDatabaseUser));
  const std::string password = Text(q, &CQuillmoreExt::GetDatabasePassword);
  Line("password",
       password.empty()
           ? ""
           : "(set, " + std::to_string(password.size()) + " characters)");
  Line("connection string",
       MaskPassword(Text(q, &CQuillmoreExt::GetConnectionString), password));
  Line("text table", Text(q, &CQuillmoreExt::GetTableName));
  std::printf("%-20s %s\n", "xml parser",
              q.GetUseXmlParser(device) != 0 ? "on" : "off");
  Line("xml stylesheet", RecordText([&](char* b, uint32_t n) {
         return q.GetXmlParserFile(device, b, n) != 0
                    ? static_cast<uint32_t>(std::strlen(b))
                    : 0u;
       }));
  std::vector<std::string> warnings;
  ConnectionWarnings(q, warnings);
  for (const std::string& w : warnings) Warn(w);
  return 0;
}

int SetDatabase(Args& a) {
  const std::vector<std::string>& v = a.list;  // PATH|SERVER NAME USER PWD
  if (a.use != 0 && a.use != 1)
    return Fail("set-database: USE is 0 or 1, not " + std::to_string(a.use));
  if (a.type < 0 || a.type > 4) {
    return Fail(
        "set-database: TYPE is 0 (none), 1 (Jet), 2 or 3 (SQL "
        "Server) or 4 (MySQL), not " +
        std::to_string(a.type));
  }
  if (!v.empty() && (a.use == 0 || a.type == 0)) {
    return Fail(
        "set-database: with USE 0 or TYPE 0 the library stores no "
        "other setting; give DEVICE USE TYPE alone");
  }
  if (a.type == 1 && v.size() > 1 && !v[1].empty()) {
    return Fail(
        "set-database: a Jet database (type 1) has no NAME; give '' "
        "in its place");
  }
  CQuillmoreExt q;
  q.LoadData(a.device);
  auto arg = [&](size_t i) { return i < v.size() ? v[i].c_str() : nullptr; };
  q.SetUseDatabase(a.device, a.use, a.type, arg(0), arg(1), arg(2), arg(3));

  CQuillmoreExt fresh;
  fresh.LoadData(a.device);
  Settings want = {{"use database", std::to_string(a.use)},
                   {"database type", std::to_string(a.type)}};
  Settings got = {{"use database", std::to_string(fresh.GetUseDatabase())},
                  {"database type", std::to_string(fresh.GetDatabaseType())}};
  const struct {
    const char* label;
    size_t arg;
    Getter get;
  } texts[] = {{"database path", 0, &CQuillmoreExt::GetDatabasePath},
               {"database server", 0, &CQuillmoreExt::GetDatabaseServer},
               {"database name", 1, &CQuillmoreExt::GetDatabaseName},
               {"user", 2, &CQuillmoreExt::GetDatabaseUser},
               {"password", 3, &CQuillmoreExt::GetDatabasePassword}};
  for (const auto& t : texts) {
    const bool path = t.get == &CQuillmoreExt::GetDatabasePath;
    if (t.arg >= v.size() || (t.arg < 2 && path != (a.type == 1))) continue;
    want.push_back({t.label, v[t.arg]});
    got.push_back({t.label, Text(fresh, t.get)});
  }
  if (const int rc = Verify(a.device, want, got)) return rc;
  return Show(a.device);
}

int SetXslt(Args& a) {
  CQuillmoreExt q;
  // The library reads at most 259 characters of the path back.
  if (a.file.size() > 259) {
    return Fail("set-xslt: the path has " + std::to_string(a.file.size()) +
                " characters; the library reads at most 259");
  }
  if (!a.file.empty() && q.ValidateXslt(a.file.c_str()) == 0) {
    return Nothing(a.file +
                   " does not load as XML; the device keeps its stylesheet");
  }
  q.SetXmlParserFile(a.device, a.file.empty() ? nullptr : a.file.c_str());
  CQuillmoreExt fresh;  // the device not loaded: read from its file
  const std::string stored =
      fresh.GetUseXmlParser(a.device) == 0
          ? ""
          : RecordText([&](char* b, uint32_t n) {
              return static_cast<uint32_t>(
                  fresh.GetXmlParserFile(a.device, b, n) != 0 ? std::strlen(b)
                                                              : 0);
            });
  if (const int rc = Verify(a.device, {{"xml stylesheet", a.file}},
                            {{"xml stylesheet", stored}})) {
    return rc;
  }
  std::printf("device %d stylesheet: %s\n", a.device,
              a.file.empty() ? "(none)" : a.file.c_str());
  return 0;
}

bool StdinIsTerminal() {
#ifdef _WIN32
  DWORD mode = 0;  // a console, not the NUL device
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

bool SameBytes(const std::string& a, const std::string& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  return x && y &&
         std::equal(std::istreambuf_iterator<char>(x),
                    std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(y),
                    std::istreambuf_iterator<char>());
}

int CreateDatabase(Args& a) {
  CQuillmoreExt q;
  q.LoadData(a.device);
  const std::string device = std::to_string(a.device);
  if (q.GetUseDatabase() <= 0 || q.GetDatabaseType() != 1)
    return Nothing("device " + device + " keeps no Jet database file");
  const std::string file = Text(q, &CQuillmoreExt::GetDatabaseName);
  const std::string folder = Text(q, &CQuillmoreExt::GetDatabasePath);
  const std::string tmpl = (fs::path(DvFolder()) / "textdb.tmp").string();
  std::error_code error;
  const bool existed = fs::exists(file, error);
  if (existed && !a.yes && !StdinIsTerminal()) {
    return Nothing(file + " exists and was kept (--yes replaces it)");
  }
  // Asked on the terminal unless --yes.
  q.CreateDatabase(a.device, a.yes ? 0 : 1,
                   "The database file exists. Replace it?");
  if (!fs::exists(file, error)) {
    return Nothing(
        "could not make " + file +
        (fs::is_directory(folder, error)
             ? " (is " + tmpl + " there?)"
             : ": the Jet folder " + folder +
                   " does not exist ('quillmore set-database' sets it)"));
  }
  if (!SameBytes(file, tmpl)) {
    return Nothing(file + (existed ? " exists and was kept"
                                   : " is not a copy of " + tmpl));
  }
  std::printf("%s\n", file.c_str());
  return 0;
}

// ------------------------------------------------------------ user tables

// A device's stored definitions; the child arrays go back to the library.
std::vector<quillmore_tools::UserTableDef> StoredDefinitions(CQuillmoreExt& q,
                                                             int device) {
  const uint32_t count = q.GetUserTableElementsCount(device);
  std::vector<_tagUSERTABLEINFO> raw(count);
  const uint32_t got =
      count ? q.GetUserTableElements(device, raw.data(), count) : 0;
  std::vector<quillmore_tools::UserTableDef> defs =
      quillmore_tools::FromRecords(raw.data(), got);
  if (got != 0) q.FreeUserTableElements(raw.data(), got);
  return defs;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string TableNames(CQuillmoreExt& q, int device) {
  return BatchText(
      [&](char* b, uint32_t n) { return q.GetUserTableNames(device, b, n); },
      quillmore_tools::UserTableEntryBound(q, device));
}

std::string TableFields(CQuillmoreExt& q, int device, const std::string& name) {
  return BatchText(
      [&](char* b, uint32_t n) {
        return q.GetUserFieldsByTable(device, name.c_str(), b, n);
      },
      quillmore_tools::UserTableEntryBound(q, device));
}

int Tables(int device) {
  CQuillmoreExt q;
  q.LoadData(device);
  std::printf("device %d uses user tables: %s\n", device,
              q.GetUseUserTable(device) != 0 ? "yes" : "no");
  Block("definitions",
        quillmore_tools::FormatUserTables(StoredDefinitions(q, device)));
  std::string columns;
  for (const std::string& name : Lines(TableNames(q, device))) {
    std::string fields = TableFields(q, device, name);
    std::replace(fields.begin(), fields.end(), '\n', ' ');
    columns += (columns.empty() ? "" : "\n") + name + ": f_id " + fields;
  }
  const uint32_t bound = quillmore_tools::UserTableEntryBound(q, device);
  Block("user tables and their columns", columns);
  Block("create user tables", BatchText(
                                  [&](char* b, uint32_t n) {
                                    return q.GetUserCreateQueryEx(device, b, n);
                                  },
                                  bound));
  Block("drop user tables", BatchText(
                                [&](char* b, uint32_t n) {
                                  return q.GetUserDropQueryEx(device, b, n);
                                },
                                bound));
  Block("select by date (template)",
        Text(q, &CQuillmoreExt::GetSelectTemplateQuery));
  return 0;
}

int SetUserTables(Args& a, bool store) {
  std::string text, error;
  for (const std::string& d : a.list) text += d + " ";
  std::vector<quillmore_tools::UserTableDef> defs;
  if (!quillmore_tools::ParseUserTables(text, defs, error)) return Fail(error);
  quillmore_tools::UserTableRecords records(defs);
  CQuillmoreExt q;
  const int device = a.device;
  if (store) {
    if (q.SetUserTableElements(device, records.data(), records.count()) == 0)
      return Nothing("the library refused the definitions");
    const std::string want =
        defs.empty() ? "off" : quillmore_tools::FormatUserTables(defs);
    CQuillmoreExt fresh;  // the device not loaded: read from its file
    const std::string got = fresh.GetUseUserTable(device) == 0
                                ? "off"
                                : quillmore_tools::FormatUserTables(
                                      StoredDefinitions(fresh, device));
    if (const int rc =
            Verify(device, {{"user tables", want}}, {{"user tables", got}})) {
      return rc;
    }
    std::printf("device %d: %s\n", device,
                defs.empty() ? "user tables off" : want.c_str());
    return 0;
  }
  q.LoadData(device);
  const uint32_t bound =
      quillmore_tools::UserTableEntryBound(records.data(), records.count());
  Block("user tables", BatchText(
                           [&](char* b, uint32_t n) {
                             return q.GetUserTableNamesByElements(
                                 device, b, n, records.data(), records.count());
                           },
                           bound));
  Block("create user tables", BatchText(
                                  [&](char* b, uint32_t n) {
                                    return q.GetUserCreateQueryTest(
                                        device, records.data(), records.count(),
                                        b, n);
                                  },
                                  bound));
  Block("drop user tables", BatchText(
                                [&](char* b, uint32_t n) {
                                  return q.GetUserDropQueryByElements(
                                      device, b, n, records.data(),
                                      records.count());
                                },
                                bound));
  return 0;
}

// ------------------------------------------------------------ search items

// The items as the library gives them: from the loaded copy when `device`
// is loaded in `q`, else from its file.
std::vector<_tagITEMSEARCHINFO> ReadItems(CQuillmoreExt& q, int device) {
  const uint32_t count = q.GetItemSearchElementsCount(device);
  std::vector<_tagITEMSEARCHINFO> items(count);
  if (count == 0 || q.GetItemSearchElement(device, items.data(), count) == 0)
    items.clear();
  return items;
}

Settings ItemSettings(const std::vector<_tagITEMSEARCHINFO>& items) {
  Settings out;
  for (size_t i = 0; i < items.size(); ++i) {
    out.push_back({"item [" + std::to_string(i) + "]",
                   quillmore_tools::FormatItem(items[i])});
  }
  return out;
}

int Items(int device) {
  CQuillmoreExt q;  // the device not loaded: its file is read
  const Settings items = ItemSettings(ReadItems(q, device));
  std::printf("device %d has %zu search item(s)\n", device, items.size());
  for (size_t i = 0; i < items.size(); ++i)
    std::printf("  [%zu] %s\n", i, items[i].value.c_str());
  return 0;
}

// What the library would refuse or a search could not use, with the field
// named: names in SQL or XPath that are no identifiers, a `pre` item that
// doesn't exist in a list of `count`.
bool CheckItem(const _tagITEMSEARCHINFO& item, size_t count,
               std::string& error) {
  const std::string name = "item '" + std::string(item.szName) + "': ";
  const struct {
    const char* field;
    const char* value;
    int kind;
    bool may_be_empty;
  } names[] = {{"element", item.szElement, 0, true},
               {"attribute", item.szAttribute, 0, true},
               {"table", item.szTable, 1, false},
               {"field", item.szField, 1, false}};
  for (const auto& n : names) {
    if (item.byType != n.kind || (n.may_be_empty && n.value[0] == '\0'))
      continue;
    if (!quillmore_tools::IsIdentifier(n.value)) {
      error = name + n.field + "='" + n.value +
              "': the library takes letters, digits and _ only, not a digit "
              "first" +
              (n.may_be_empty ? "" : ", and no empty name");
      return false;
    }
  }
  if (item.nPreItemId > 0 && static_cast<size_t>(item.nPreItemId) > count) {
    error = name + "pre=" + std::to_string(item.nPreItemId) +
            " names no item (the items are numbered 1 to " +
            std::to_string(count) + " here)";
    return false;
  }
  return true;
}

int ChangeItems(Args& a, const std::string& command) {
  CQuillmoreExt q;  // the device is not loaded: the library works on its file
  const int device = a.device;
  std::vector<_tagITEMSEARCHINFO> want = ReadItems(q, device);
  std::string error;
  const std::string no_item = "device " + std::to_string(device) +
                              " has no item " + std::to_string(a.index);
  _tagITEMSEARCHINFO fresh{};
  fresh.nSplit = -1;  // no shape test, as in a file without SPLIT
  if (command == "delete-item") {
    if (a.index < 0 || static_cast<size_t>(a.index) >= want.size() ||
        q.DeleteItemSearchElementByIndex(device,
                                         static_cast<uint32_t>(a.index)) == 0) {
      return Nothing(no_item);
    }
    want.erase(want.begin() + a.index);
  } else if (command == "set-items") {
    want.assign(a.list.empty() ? 0 : 1, fresh);
    for (const std::string& arg : a.list) {
      if (arg == "/") {
        want.push_back(fresh);
      } else if (!quillmore_tools::SetItemField(want.back(), arg, error)) {
        return Fail(error);
      }
    }
    for (const _tagITEMSEARCHINFO& item : want) {
      if (!CheckItem(item, want.size(), error)) return Fail(error);
    }
    _tagITEMSEARCHINFO none{};
    if (q.SetItemSearchElement(device, want.empty() ? &none : want.data(),
                               static_cast<uint32_t>(want.size())) == 0) {
      return Nothing("the library refused the list");
    }
  } else {
    const bool add = command == "add-item";
    if (!add && (a.index < 0 || static_cast<size_t>(a.index) >= want.size()))
      return Nothing(no_item);
    _tagITEMSEARCHINFO item = add ? fresh : want[a.index];
    for (const std::string& arg : a.list) {
      if (!quillmore_tools::SetItemField(item, arg, error)) return Fail(error);
    }
    if (!CheckItem(item, want.size() + (add ? 1 : 0), error))
      return Fail(error);
    const int ok = add ? q.AddItemSearchElement(device, &item)
                       : q.SetItemSearchElementByIndex(
                             device, static_cast<uint32_t>(a.index), &item);
    if (ok == 0) return Nothing("the library refused the item");
    if (add) want.push_back(item);
    if (!add) want[a.index] = item;
  }
  CQuillmoreExt reader;
  if (const int rc = Verify(device, ItemSettings(want),
                            ItemSettings(ReadItems(reader, device)))) {
    return rc;
  }
  return Items(device);
}

// ------------------------------------------------------------ devices

// What keeps a device file from reading as one: bytes that are no text or
// lines of no known form (the library reads them as nothing), and counts
// that name no definition.
quillmore_tools::RawDeviceFile ReadRaw(int device) {
  std::ifstream in(DeviceFile(device), std::ios::binary);
  std::string bytes(quillmore_tools::kDeviceFileLimit + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return quillmore_tools::RawDeviceFile(std::move(bytes));
}

std::vector<std::string> FileProblems(
    CQuillmoreExt& q, int device, const quillmore_tools::RawDeviceFile& raw) {
  std::vector<std::string> problems;
  if (!raw.problem().empty()) problems.push_back(raw.problem());
  const std::vector<_tagITEMSEARCHINFO> items = ReadItems(q, device);
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].szName[0] != '\0') continue;
    problems.push_back("ITEMSEARCH counts " + std::to_string(items.size()) +
                       " items, but S" + std::to_string(i + 1) + " names none");
    break;
  }
  const std::vector<quillmore_tools::UserTableDef> defs =
      StoredDefinitions(q, device);
  for (size_t i = 0; i < defs.size(); ++i) {
    if (!defs[i].name.empty()) continue;
    problems.push_back("USERTABLE counts " + std::to_string(defs.size()) +
                       " definitions, but ELEMENT" + std::to_string(i + 1) +
                       " names none");
    break;
  }
  return problems;
}

// The device files in DV, by number: devdata<N>.ini as the library names
// them (no leading zeros).
std::vector<int> DeviceNumbers() {
  std::vector<int> devices;
  std::error_code error;
  for (const fs::directory_entry& e :
       fs::directory_iterator(DvFolder(), error)) {
    const std::string name = e.path().filename().string();
    if (name.size() <= 11 || name.rfind("devdata", 0) != 0 ||
        name.compare(name.size() - 4, 4, ".ini") != 0) {
      continue;
    }
    const std::string number = name.substr(7, name.size() - 11);
    char* end = nullptr;
    const long n = std::strtol(number.c_str(), &end, 10);
    if (*end == '\0' && n >= -2147483647L - 1 && n <= 2147483647L &&
        std::to_string(n) == number) {
      devices.push_back(static_cast<int>(n));
    }
  }
  std::sort(devices.begin(), devices.end());
  return devices;
}

int Devices() {
  CQuillmoreExt q;  // nothing loaded: every answer comes from the files
  std::error_code error;
  if (!fs::is_directory(DvFolder(), error))
    return Nothing("there is no DV folder beside quillmore: " + DvFolder());
  std::printf("%-7s %-5s %-30s %-6s %-6s %s\n", "device", "type", "text table",
              "users", "items", "Jet folder");
  const std::vector<int> devices = DeviceNumbers();
  std::vector<std::string> flagged;
  for (const int device : devices) {
    std::printf("%-7d %-5d %-30s %-6s %-6u %s\n", device,
                q.GetDatabaseTypeEx(device),
                RecordText([&](char* b, uint32_t n) {
                  return q.GetTableNameEx(device, b, n);
                }).c_str(),
                q.GetUseUserTable(device) != 0 ? "yes" : "no",
                q.GetItemSearchElementsCount(device),
                RecordText([&](char* b, uint32_t n) {
                  return q.GetDatabasePathEx(device, b, n);
                }).c_str());
    const std::vector<std::string> problems =
        FileProblems(q, device, ReadRaw(device));
    if (!problems.empty()) {
      flagged.push_back("devdata" + std::to_string(device) +
                        ".ini does not read as a device file: " + problems[0]);
    }
  }
  if (devices.empty()) std::printf("(no device files in DV)\n");
  for (const std::string& f : flagged)
    std::fprintf(stderr, "quillmore: %s\n", f.c_str());
  return flagged.empty() ? 0 : 1;
}

// Definitions of one level that would make bad SQL.
void CheckDefinitions(const std::vector<quillmore_tools::UserTableDef>& defs,
                      const std::string& where,
                      std::vector<std::string>& problems) {
  std::set<std::string> seen;
  for (const quillmore_tools::UserTableDef& d : defs) {
    if (d.name.empty()) continue;  // a count without a name, told above
    const std::string name = "'" + d.name + "' " + where;
    if (!quillmore_tools::IsIdentifier(d.name))
      problems.push_back(name + " is no identifier: the SQL can't name it");
    if (!seen.insert(d.name).second)
      problems.push_back(name + " is there twice: a column repeated");
    if (d.children.empty() && d.length <= 0) {
      problems.push_back(name + " has the length " + std::to_string(d.length) +
                         ": varchar(N) needs a positive N");
    }
  }
}

int Check(Args& a) {
  const int device = a.device;
  std::error_code error;
  if (!fs::exists(DeviceFile(device), error))
    return Nothing("there is no " + DeviceFile(device));
  CQuillmoreExt q;  // the device not loaded: everything is read from its file
  const quillmore_tools::RawDeviceFile raw = ReadRaw(device);
  std::vector<std::string> problems = FileProblems(q, device, raw);
  const std::vector<quillmore_tools::UserTableDef> defs =
      StoredDefinitions(q, device);
  CheckDefinitions(defs, "at the top level", problems);
  for (size_t i = 0; i < defs.size(); ++i) {
    // The library takes CHILDLEN modulo 256.
    const std::string key = "CHILDLEN" + std::to_string(i + 1);
    const long children = std::strtol(
        raw.Value("USERTABLE", key).value_or("0").c_str(), nullptr, 10);
    if (children > 255) {
      problems.push_back("group '" + defs[i].name + "' has " + key + "=" +
                         std::to_string(children) + ": the library reads " +
                         std::to_string(children % 256) +
                         " columns; a group has at most 255");
    }
    CheckDefinitions(defs[i].children, "in " + defs[i].name + "[...]",
                     problems);
  }
  // Items that search a user-table column must name one of this device's.
  const std::vector<_tagITEMSEARCHINFO> items = ReadItems(q, device);
  const std::vector<std::string> tables = Lines(TableNames(q, device));
  for (size_t i = 0; i < items.size(); ++i) {
    const _tagITEMSEARCHINFO& item = items[i];
    std::string problem;
    const std::string name = "item [" + std::to_string(i) + "] ";
    if (!CheckItem(item, items.size(), problem)) {
      problems.push_back(name + problem);
    } else if (item.byType == 1 && std::find(tables.begin(), tables.end(),
                                             item.szTable) == tables.end()) {
      problems.push_back(name + "searches the table " + item.szTable +
                         ", which is none of the device's user tables");
    } else if (item.byType == 1) {
      std::vector<std::string> fields =
          Lines(TableFields(q, device, item.szTable));
      fields.push_back("f_id");
      if (std::find(fields.begin(), fields.end(), item.szField) ==
          fields.end()) {
        problems.push_back(name + "searches the column " + item.szField +
                           ", which " + item.szTable + " does not have");
      }
    }
  }
  q.LoadData(device);
  ConnectionWarnings(q, problems);
  for (const std::string& p : problems)
    std::printf("device %d: %s\n", device, p.c_str());
  if (problems.empty()) std::printf("device %d: no problems found\n", device);
  return problems.empty() ? 0 : 1;
}

// ------------------------------------------------------------ statements

int Print(const std::string& sql, const char* what) {
  if (sql.empty()) return Nothing("the library made no " + std::string(what));
  std::printf("%s\n", sql.c_str());
  return 0;
}

// Terms of `a.list` from `first` on, for the loaded device: every item
// they name must exist (the SQL would leave out a term that names none).
bool Terms(CQuillmoreExt& q, const Args& a, size_t first,
           std::vector<_tagSEARCHPARAM>& params, std::string& error) {
  const std::vector<std::string> terms(
      a.list.begin() + static_cast<long>(std::min(first, a.list.size())),
      a.list.end());
  if (!quillmore_tools::ParseSearchArgs(terms, params, error)) return false;
  const uint32_t count = q.GetItemSearchElementsCount(a.device);
  for (const _tagSEARCHPARAM& p : params) {
    if (p.nItemIndex < 0 || static_cast<uint32_t>(p.nItemIndex) < count)
      continue;
    error = "device " + std::to_string(a.device) + " has no item " +
            std::to_string(p.nItemIndex) + " (it has " + std::to_string(count) +
            "; 'quillmore items " + std::to_string(a.device) + "')";
    return false;
  }
  return true;
}

// `a.list`: CAMERA FROM TO [TERM...], or with `statement` given by the
// search command itself, the fields bound below.
int Search(CQuillmoreExt& q, Args& a) {
  std::vector<_tagSEARCHPARAM> params;
  std::string error;
  if (!Terms(q, a, 0, params, error)) return Fail(error);
  return Print(RecordText(
                   [&](char* b, uint32_t n) {
                     return q.GetSelectQueryByItemIndex(
                         a.camera, a.from.c_str(), a.to.c_str(),
                         params.empty() ? nullptr : params.data(),
                         static_cast<uint32_t>(params.size()),
                         a.or_mode ? 1 : 0, b, n);
                   },
                   quillmore_tools::kFieldLimit +
                       1024 * static_cast<uint32_t>(params.size())),
               "search SELECT");
}

int UserInsert(CQuillmoreExt& q, const Args& a) {
  std::string xml;
  if (!ReadAll(a.file, xml)) return Fail("can't read " + a.file);
  return Print(RecordText(
                   [&](char* b, uint32_t n) {
                     return q.GetUserInsertQuery(a.id, xml.c_str(), b, n);
                   },
                   static_cast<uint32_t>(std::min<uint64_t>(
                       16 * uint64_t{xml.size()} + 65536, INT32_MAX))),
               "user-table INSERT for this record");
}

bool Integer(const std::string& s, int& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || errno != 0 || v < -2147483647L - 1 ||
      v > 2147483647L) {
    return false;
  }
  out = static_cast<int>(v);
  return true;
}

// The statements of `sql`, with the operands each takes after its name.
// The first operand of those marked `numbered` is a whole number.
const struct Statement {
  const char* name;
  const char* operands;
  size_t min, max;
  bool numbered;
} kStatements[] = {
    {"create-database", " [NAME]", 0, 1, false},
    {"create-table", "", 0, 0, false},
    {"drop-table", "", 0, 0, false},
    {"create-user-tables", "", 0, 0, false},
    {"drop-user-tables", "", 0, 0, false},
    {"insert", " CAMERA DATE TEXT", 3, 3, true},
    {"user-insert", " ID FILE|-", 2, 2, true},
    {"delete-below", " ID", 1, 1, true},
    {"delete-before", " DATE", 1, 1, false},
    {"browse", " FROM TO", 2, 2, false},
    {"browse-template", "", 0, 0, false},
    {"search", " CAMERA FROM TO [TERM...]", 3, SIZE_MAX, true},
};

std::string Closest(const std::string& word,
                    const std::vector<std::string>& names);

int Sql(Args& a) {
  const std::string what = a.statement;
  std::vector<std::string>& v = a.list;
  const Statement* statement = nullptr;
  std::vector<std::string> names;
  for (const Statement& s : kStatements) {
    names.push_back(s.name);
    if (what == s.name) statement = &s;
  }
  if (statement == nullptr) {
    return Fail("unknown statement '" + what + "'" + Closest(what, names) +
                " ('quillmore sql --help' lists them)");
  }
  for (const std::string& o : a.given) {
    const bool insert = o != "--or" && o != "--and";
    if (what != (insert ? "insert" : "search")) {
      return Fail("sql: " + o + " goes with the " +
                  (insert ? "insert" : "search") + " statement");
    }
  }
  if (v.size() < statement->min || v.size() > statement->max) {
    return Fail("usage: quillmore sql DEVICE " + what + statement->operands);
  }
  int number = 0;
  if (statement->numbered && !Integer(v[0], number)) {
    return Fail("sql " + what + ": " + v[0] + " is not a whole number");
  }
  if (what == "user-insert") {
    a.id = number;
    a.file = v[1];
  }
  CQuillmoreExt q;
  q.LoadData(a.device);
  const int type = q.GetDatabaseType();
  auto text = [&](const char* kind, auto get) {
    return Print(RecordText(get), kind);
  };
  if (what == "create-database") {
    const std::string name =
        v.empty() ? Text(q, &CQuillmoreExt::GetDatabaseName) : v[0];
    return text(
        "CREATE DATABASE (type 1 has none; is there a DV/db<TYPE>.sql?)",
        [&](char* b, uint32_t n) {
          return q.GetCreateDatabaseQuery(type, name.c_str(), b, n);
        });
  }
  if (what == "create-table" || what == "drop-table") {
    return text("statement for the text table", [&](char* b, uint32_t n) {
      return what == "create-table" ? q.GetCreateQuery(type, b, n)
                                    : q.GetDropQuery(type, b, n);
    });
  }
  if (what == "create-user-tables" || what == "drop-user-tables") {
    return Print(BatchText(
                     [&](char* b, uint32_t n) {
                       return what == "create-user-tables"
                                  ? q.GetUserCreateQueryEx(a.device, b, n)
                                  : q.GetUserDropQueryEx(a.device, b, n);
                     },
                     quillmore_tools::UserTableEntryBound(q, a.device)),
                 "statement for user tables");
  }
  if (what == "insert") {
    std::string xml;
    if (!a.xml.empty() && !ReadAll(a.xml, xml))
      return Fail("can't read " + a.xml);
    // The statement's own text, its numbers and names included, is far
    // below 160 + 64 bytes (tests/cli.sh previews the largest).
    const uint64_t bound = 160 + 64 + v[1].size() + v[2].size() + xml.size() +
                           a.systime.size() + a.savepath.size();
    if (bound > INT32_MAX) return Fail("the record is too large");
    return Print(
        RecordText(
            [&](char* b, uint32_t n) {
              return q.GetInsertQueryEx(number, v[1].c_str(), a.systime.c_str(),
                                        v[2].c_str(), xml.c_str(),
                                        a.savepath.c_str(), a.savepos, b, n);
            },
            static_cast<uint32_t>(bound), static_cast<uint32_t>(bound)),
        "INSERT (is a device with a database loaded?)");
  }
  if (what == "user-insert") return UserInsert(q, a);
  if (what == "delete-below") {
    return text("DELETE batch (a device of type 0 has none)",
                [&](char* b, uint32_t n) {
                  return q.GetDeleteQueryByID(number, b, n);
                });
  }
  if (what == "delete-before") {
    return text("DELETE batch (a device of type 0 has none)",
                [&](char* b, uint32_t n) {
                  return q.GetDeleteQueryByDate(v[0].c_str(), b, n);
                });
  }
  if (what == "browse") {
    return text("SELECT", [&](char* b, uint32_t n) {
      return q.GetSelectQueryByDateTime(v[0].c_str(), v[1].c_str(), b, n);
    });
  }
  if (what == "browse-template")
    return Print(Text(q, &CQuillmoreExt::GetSelectTemplateQuery), "SELECT");
  a.camera = number;
  a.from = v[1];
  a.to = v[2];
  v.erase(v.begin(), v.begin() + 3);
  return Search(q, a);
}

int Match(Args& a) {
  CQuillmoreExt q;
  q.LoadData(a.device);
  std::vector<_tagSEARCHPARAM> params;
  std::string error;
  if (!Terms(q, a, 0, params, error)) return Fail(error);
  const int ok = q.IsValidSearchRecord(
      a.text.c_str(), params.empty() ? nullptr : params.data(),
      static_cast<uint32_t>(params.size()), a.or_mode ? 1 : 0);
  std::printf("%s\n", ok != 0 ? "match" : "no match");
  return ok != 0 ? 0 : 1;
}

// ------------------------------------------------------------ demo

int Demo() {
  for (int device = 1; device <= 3; ++device) {
    std::printf("==================== device %d ====================\n",
                device);
    Show(device);
    std::printf("\n");
    Tables(device);
    std::printf("\n");
    Items(device);
    std::printf("\n-- insert a text record\n");
    // The host doubles quotes in its own values; these have none.
    Args insert;
    insert.device = device;
    insert.statement = "insert";
    insert.list = {"1", "2026-12-05 16:35:00", "TOTAL 12.50 CARD"};
    insert.savepath = "/rec/cam1/0001.avi";
    insert.savepos = 4096;
    Sql(insert);
    CQuillmoreExt q;
    q.LoadData(device);
    Block("user-table inserts for record 42",
          RecordText(
              [&](char* b, uint32_t s) {
                return q.GetUserInsertQuery(
                    42,
                    "<Receipt><Total>12.50</Total><Cashier>Ann</Cashier><Items>"
                    "<Item name='Tea' price='2.00' qty='1'/>"
                    "<Item price='10.50' name='Cake'/></Items></Receipt>",
                    b, s);
              },
              1 << 20));
    std::printf("\n-- select a day\n");
    Args browse;
    browse.device = device;
    browse.statement = "browse";
    browse.list = {"2026-12-05 00:00:00", "2026-12-05 23:59:59"};
    Sql(browse);
    std::printf(
        "\n-- search camera 1 for 'CARD' and item 0 (if any) from 10 to 20\n");
    Args search = browse;
    search.statement = "search";
    search.list = {"1",
                   "2026-12-05 00:00:00",
                   "2026-12-05 23:59:59",
                   "text=CARD",
                   "0>=10",
                   "0<=20"};
    if (q.GetItemSearchElementsCount(device) == 0) search.list.resize(4);
    Sql(search);
    _tagSEARCHPARAM keyword{};
    keyword.nItemIndex = 2;
    const bool match =
        q.GetItemSearchElementsCount(device) > 2 &&
        q.IsValidSearchRecord("TOTAL 12.50 CARD", &keyword, 1, 0) != 0;
    std::printf("\n-- the record text 'TOTAL 12.50 CARD' against item 2: %s\n",
                match ? "match" : "no match");
    std::printf("\n-- delete records before 2026-11-01\n");
    Args prune = browse;
    prune.statement = "delete-before";
    prune.list = {"2026-11-01"};
    Sql(prune);
    std::printf("\n");
  }
  return 0;
}

// ------------------------------------------------------------ commands

void Device(CLI::App& c, Args& a) {
  c.add_option("DEVICE", a.device, "the device: DV/devdata<DEVICE>.ini")
      ->required();
}

void JoinModes(CLI::App& c, Args& a) {
  CLI::Option* any =
      c.add_flag("--or", a.or_mode, "a record matches when one term does");
  c.add_flag("--and", a.and_mode, "every term must match (the default)")
      ->excludes(any);
}

void SearchTerms(CLI::App& c, Args& a) {
  c.add_option("TERM", a.list,
               "ITEM=VALUE, ITEM>VALUE, ITEM>=VALUE, ITEM<VALUE or "
               "ITEM<=VALUE; ITEM an item index or 'text'");
  JoinModes(c, a);
}

const char kItemFields[] =
    "FIELDs: name, kind (0 or xml, 1 or field, 2 or keyword), element,\n"
    "attribute, compare (kind 0); table, field (kind 1); split (-1 none, 0 to "
    "3\na shape test), keyword, nokeyword (kind 2); value (a fixed value),\n"
    "number (1: compare as numbers), findtype (0: the first number of the\n"
    "text, 1: the last), pre (the 1-based number of an item applied first).\n"
    "Text fields hold 49 bytes, table and field 59; names in SQL (table,\n"
    "field) and XPath (element, attribute) are identifiers.";

const char kWrites[] =
    "\n\nThe device's file is read back after the write: a value it doesn't "
    "hold\n(a missing or read-only DV folder, a full disk) gives exit status "
    "1.";

// One table: each command's place in 'quillmore --help', its operands and
// options, and what it does.
const struct Command {
  const char* name;
  const char* group;
  const char* summary;
  std::string details;  // the end of 'quillmore NAME --help'
  void (*operands)(CLI::App&, Args&);
  int (*run)(Args&);
} kCommands[] = {
    {"devices", "Devices and settings",
     "every device file, read without loading it",
     "Database type, text table, user tables in use, number of search items\n"
     "and Jet folder of every DV/devdata<N>.ini beside quillmore. A file that\n"
     "does not read as a device file (no text, lines of no known form, counts\n"
     "that name nothing) is named on standard error, and the exit status is "
     "1.",
     [](CLI::App&, Args&) {}, [](Args&) { return Devices(); }},
    {"check", "Devices and settings",
     "what in a device file would make bad SQL",
     "Names that are no identifiers, field lengths that are not positive,\n"
     "groups over 255 columns, items that search tables or columns the\n"
     "device doesn't have, connection-string values the string can't carry.\n"
     "Exit status 1 when something is found.",
     Device, Check},
    {"show", "Devices and settings", "settings, connection string, text table",
     "The password is shown masked, in the connection string too.", Device,
     [](Args& a) { return Show(a.device); }},
    {"set-database", "Devices and settings",
     "set USE (0, 1), TYPE and the database's settings",
     "TYPE: 0 none, 1 Jet (PATH is the folder of its file), 2 and 3 SQL\n"
     "Server, 4 MySQL. A setting left out keeps its value; with USE 0 or TYPE\n"
     "0 none is given. A value holding ';', '{' or '}' gets a warning: the\n"
     "connection string can't carry it as given." +
         std::string(kWrites),
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("USE", a.use, "1: the device keeps a database, 0: not")
           ->required();
       c.add_option("TYPE", a.type, "the database type, 0 to 4")->required();
       c.add_option("SETTING", a.list,
                    "PATH|SERVER NAME USER PASSWORD, in this order")
           ->expected(0, 4);
     },
     SetDatabase},
    {"set-xslt", "Devices and settings", "set or clear the device's stylesheet",
     "With FILE the device's records are transformed before their values are\n"
     "read; FILE must load as XML. Without FILE (or with '') the stylesheet\n"
     "is cleared." +
         std::string(kWrites),
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("FILE", a.file, "the stylesheet");
     },
     SetXslt},
    {"validate-xslt", "Devices and settings", "does FILE load as XML", "",
     [](CLI::App& c, Args& a) {
       c.add_option("FILE", a.file, "the file")->required();
     },
     [](Args& a) {
       CQuillmoreExt q;
       const int ok = q.ValidateXslt(a.file.c_str());
       std::printf("%s\n", ok != 0 ? "loads as XML" : "does not load as XML");
       return ok != 0 ? 0 : 1;
     }},
    {"create-database", "Devices and settings",
     "copy the Jet template into place (type 1)",
     "Copies DV/textdb.tmp to the device's Jet file. An existing file is\n"
     "replaced only after a question on the terminal, or with --yes; exit\n"
     "status 1 when it was kept or could not be made (a missing folder).",
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_flag("--yes", a.yes, "replace an existing file without asking");
     },
     CreateDatabase},
    {"tables", "User tables", "definitions, names, columns, CREATE, DROP",
     "The definitions (in the notation set-user-tables takes), the tables'\n"
     "names and columns, their CREATE and DROP batches and the date-range\n"
     "SELECT template.",
     Device, [](Args& a) { return Tables(a.device); }},
    {"names", "User tables", "the user tables' names, one per line",
     "The main table first. Their names carry this machine's volume serial.",
     Device,
     [](Args& a) {
       CQuillmoreExt q;
       q.LoadData(a.device);
       return Print(TableNames(q, a.device),
                    "user-table names (are user tables on?)");
     }},
    {"set-user-tables", "User tables", "store user-table definitions",
     "DEFS: NAME:LENGTH for a column of the main user table, and\n"
     "NAME[NAME:LENGTH,...] for a group element whose attributes fill a\n"
     "group table of its own; NAME:LENGTH:TYPE stores a field type too.\n"
     "Example: 'Total:20 Cashier:30 Item[name:40,price:10]'. '' turns user\n"
     "tables off. Names are identifiers of at most 49 bytes, not repeated\n"
     "on one level; a group has at most 255 columns." +
         std::string(kWrites),
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("DEFS", a.list, "the definitions")->required();
     },
     [](Args& a) { return SetUserTables(a, true); }},
    {"try-user-tables", "User tables",
     "names, CREATE and DROP of definitions, unstored",
     "DEFS as for set-user-tables.",
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("DEFS", a.list, "the definitions")->required();
     },
     [](Args& a) { return SetUserTables(a, false); }},
    {"items", "Search items", "the item-search definitions",
     "One per line, in the FIELD=VALUE form add-item takes.", Device,
     [](Args& a) { return Items(a.device); }},
    {"add-item", "Search items", "append an item",
     std::string(kItemFields) + kWrites,
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("FIELD=VALUE", a.list, "the item's fields")->required();
     },
     [](Args& a) { return ChangeItems(a, "add-item"); }},
    {"set-item", "Search items", "change fields of one item, keep the others",
     std::string(kItemFields) + kWrites,
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("INDEX", a.index, "the item, from 0")->required();
       c.add_option("FIELD=VALUE", a.list, "the fields to change")->required();
     },
     [](Args& a) { return ChangeItems(a, "set-item"); }},
    {"delete-item", "Search items", "delete one item",
     "The items after it move up by one." + std::string(kWrites),
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("INDEX", a.index, "the item, from 0")->required();
     },
     [](Args& a) { return ChangeItems(a, "delete-item"); }},
    {"set-items", "Search items", "replace the whole list",
     "'/' separates the items; none empties the list.\n" +
         std::string(kItemFields) + kWrites,
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("FIELD=VALUE", a.list, "the items' fields, '/' between");
     },
     [](Args& a) { return ChangeItems(a, "set-items"); }},
    {"sql", "Statements (previews)", "preview one statement",
     "STATEMENTs and their ARGS:\n"
     "  create-database [NAME]   the device's DBNAME unless NAME is given\n"
     "  create-table, drop-table the text table\n"
     "  create-user-tables, drop-user-tables\n"
     "  insert CAMERA DATE TEXT  one text record's INSERT (--xml, --systime,\n"
     "                           --savepath, --savepos)\n"
     "  user-insert ID FILE|-    the user-table INSERTs of one record's XML\n"
     "  delete-below ID          DELETE batch for records below ID\n"
     "  delete-before DATE       DELETE batch for records before DATE\n"
     "  browse FROM TO, browse-template\n"
     "  search CAMERA FROM TO [TERM...]  (--or, --and; CAMERA 100 for all)\n"
     "TERM: ITEM=VALUE, ITEM>VALUE, ITEM>=VALUE, ITEM<VALUE, ITEM<=VALUE;\n"
     "ITEM an item index or 'text'. Values go in as given: the library\n"
     "doesn't escape them, a host must (quillmore-host does). Put '--'\n"
     "before ARGS that begin with '-'.",
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("STATEMENT", a.statement, "the statement")->required();
       c.add_option("ARGS", a.list, "the statement's operands");
       c.add_option("--xml", a.xml, "insert: the record's XML from FILE");
       c.add_option("--systime", a.systime, "insert: the system time");
       c.add_option("--savepath", a.savepath, "insert: the save path");
       c.add_option("--savepos", a.savepos, "insert: the save position");
       JoinModes(c, a);
     },
     Sql},
    {"insert", "Statements (previews)", "the user-table INSERTs of one record",
     "The same as 'sql DEVICE user-insert ID FILE'; FILE '-' is standard "
     "input.",
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("ID", a.id, "the record's f_id")->required();
       c.add_option("FILE", a.file, "the record's XML")->required();
     },
     [](Args& a) {
       CQuillmoreExt q;
       q.LoadData(a.device);
       return UserInsert(q, a);
     }},
    {"search", "Statements (previews)", "the search SELECT",
     "The same as 'sql DEVICE search ...'; CAMERA 100 searches every camera.",
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("CAMERA", a.camera, "the camera")->required();
       c.add_option("FROM", a.from, "the first date")->required();
       c.add_option("TO", a.to, "the last date")->required();
       SearchTerms(c, a);
     },
     [](Args& a) {
       CQuillmoreExt q;
       q.LoadData(a.device);
       return Search(q, a);
     }},
    {"match", "Statements (previews)", "test one record's text in memory",
     "Against the keyword items (kind 2); other items pass. Exit status 1\n"
     "when the text does not match.",
     [](CLI::App& c, Args& a) {
       Device(c, a);
       c.add_option("TEXT", a.text, "the record's text")->required();
       SearchTerms(c, a);
     },
     Match},
    {"demo", "Statements (previews)", "walk through the sample devices 1 to 3",
     "", [](CLI::App&, Args&) {}, [](Args&) { return Demo(); }},
};

// " (did you mean 'X'?)" for the name `word` begins, or the one at an edit
// distance of at most 2; "" when none is that close.
std::string Closest(const std::string& word,
                    const std::vector<std::string>& names) {
  size_t best = 3;
  std::string found;
  for (const std::string& name : names) {
    std::vector<size_t> row(name.size() + 1);  // distances, row by row
    for (size_t j = 0; j <= name.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= word.size(); ++i) {
      size_t diagonal = row[0];
      row[0] = i;
      for (size_t j = 1; j <= name.size(); ++j) {
        const size_t next = std::min({row[j] + 1, row[j - 1] + 1,
                                      diagonal + (word[i - 1] != name[j - 1])});
        diagonal = row[j];
        row[j] = next;
      }
    }
    const size_t d =
        !word.empty() && name.rfind(word, 0) == 0 ? 0 : row[name.size()];
    if (d < best) {
      best = d;
      found = name;
    }
  }
  return found.empty() ? "" : " (did you mean '" + found + "'?)";
}

// Options may stand before the command: the command's name is moved to the
// front, where the option library looks for it.
int Parse(int argc, char** argv, CLI::App& app, Args& a, const Command*& run) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::set<std::string> with_value;
  std::vector<std::string> names;
  for (const CLI::App* sub :
       app.get_subcommands([](const CLI::App*) { return true; })) {
    names.push_back(sub->get_name());
    for (const CLI::Option* o : sub->get_options()) {
      if (!o->get_positional() && o->get_items_expected_max() > 0) {
        for (const std::string& n : o->get_lnames())
          with_value.insert("--" + n);
      }
    }
  }
  const auto end = std::find(args.begin(), args.end(), "--");
  if (std::find(args.begin(), end, "--version") != end) {
    std::printf("quillmore %s\n", QUILLMORE_VERSION);
    return 0;
  }
  size_t at = 0;
  while (at < args.size() && args[at].size() > 1 && args[at][0] == '-' &&
         args[at] != "--") {
    at += with_value.count(args[at]) != 0 ? 2 : 1;
  }
  if (at < args.size() && args[at] != "--" && args[at] != "help") {
    if (std::find(names.begin(), names.end(), args[at]) == names.end()) {
      return Fail("unknown command '" + args[at] + "'" +
                  Closest(args[at], names) +
                  " ('quillmore --help' lists the commands)");
    }
    std::rotate(args.begin(), args.begin() + static_cast<long>(at),
                args.begin() + static_cast<long>(at) + 1);
  } else if (at < args.size() && args[at] == "help") {
    args = {"--help"};
  } else if (std::find_if(args.begin(), args.end(), [](const std::string& s) {
               return s == "--help" || s == "-h";
             }) == args.end()) {
    std::fputs(app.help().c_str(), stderr);
    return 2;
  }
  const std::vector<std::string> in_order = args;
  std::reverse(args.begin(), args.end());  // CLI11 takes them from the back
  CLI::App* chosen = nullptr;
  try {
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError& e) {
    const std::vector<CLI::App*> subs = app.get_subcommands();
    const std::string name = subs.empty() ? "" : " " + subs[0]->get_name();
    std::string message = e.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
      // In the order given (CLI11 2.1 lists them backwards).
      std::multiset<std::string> left;
      for (const std::string& r : app.remaining(true)) left.insert(r);
      message = "not expected:";
      for (const std::string& arg : in_order) {
        if (const auto found = left.find(arg); found != left.end()) {
          message += " " + arg;
          left.erase(found);
        }
      }
    }
    return Fail(message + " ('quillmore" + name + " --help')");
  }
  chosen = app.get_subcommands().at(0);
  for (const Command& c : kCommands) {
    if (chosen->get_name() == c.name) run = &c;
  }
  for (const CLI::Option* o : chosen->get_options()) {
    if (!o->get_positional() && o->count() > 0 && !o->get_lnames().empty() &&
        o->get_lnames()[0] != "help") {
      a.given.push_back("--" + o->get_lnames()[0]);
    }
  }
  return -1;
}

// Paths given on the command line, made absolute before the first library
// call moves the current folder.
void AbsolutePaths(const std::string& command, Args& a) {
  a.file = Absolute(a.file);
  a.xml = Absolute(a.xml);
  if (command == "sql" && a.statement == "user-insert" && a.list.size() > 1)
    a.list[1] = Absolute(a.list[1]);
  if (command == "set-database" && a.type == 1 && !a.list.empty())
    a.list[0] = Absolute(a.list[0]);
}

int Finish(int status) {
  // Output that could not be written is a failure, whatever was done.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "quillmore: can't write the output: %s\n",
                 std::strerror(errno));
    return status == 0 ? 1 : status;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "Works on the device configurations in the DV folder beside this\n"
      "executable (DV/devdata<N>.ini) and previews the SQL made from them;\n"
      "nothing runs on a database (quillmore-host does that).",
      "quillmore");
  bool version = false;  // answered before parsing, wherever it stands
  app.add_flag("--version", version, "print the version and exit");
  app.require_subcommand(1);
  app.allow_windows_style_options(false);  // "/x" is a path, also on Windows
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.get_formatter()->column_width(26);
  app.footer(
      "'quillmore COMMAND --help' tells more about one command; options may\n"
      "stand anywhere, also as --option=value.\n"
      "Exit status: 0 on success, 1 when the library produced or stored\n"
      "nothing (or the output could not be written), 2 for bad arguments.");
  Args a;
  for (const Command& c : kCommands) {
    CLI::App* sub = app.add_subcommand(c.name, c.summary);
    sub->group(c.group);
    if (!c.details.empty()) sub->footer(c.details);
    c.operands(*sub, a);
  }
  const Command* command = nullptr;
  const int parsed = Parse(argc, argv, app, a, command);
  if (parsed >= 0) return Finish(parsed);
  AbsolutePaths(command->name, a);
  return Finish(command->run(a));
}
