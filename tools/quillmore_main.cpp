// quillmore: a command-line host of the library. It reads and changes the
// device configurations in the DV folder beside this executable and prints
// the SQL the library makes from them. It uses only the public interface.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "quillmore/QuillmoreExt.h"

namespace {

const char kUsage[] =
    "usage: quillmore COMMAND [ARGS]\n"
    "\n"
    "Works on the device configurations in the DV folder beside this\n"
    "executable (DV/devdata<N>.ini) and prints the SQL made from them.\n"
    "\n"
    "commands:\n"
    "  demo                       walk through the sample devices 1 to 3\n"
    "  show DEVICE                database settings, connection string and\n"
    "                             the text table's CREATE and DROP\n"
    "  tables DEVICE              user-table names, CREATE and DROP batches\n"
    "  items DEVICE               the item-search definitions\n"
    "  insert DEVICE ID FILE      user-table INSERTs for one record's XML\n"
    "                             (FILE '-' reads standard input)\n"
    "  search DEVICE CAMERA FROM TO [ITEM=VALUE]...\n"
    "                             search SELECT; ITEM is an item index, or\n"
    "                             'text' for a free-text search\n"
    "  match DEVICE TEXT [ITEM=VALUE]...\n"
    "                             test one record text in memory (AND mode)\n"
    "  set-database DEVICE USE TYPE [PATH|SERVER [NAME [USER [PASSWORD]]]]\n"
    "                             change a device's database settings\n"
    "  set-xslt DEVICE [FILE]     set or clear a device's stylesheet\n"
    "  validate-xslt FILE         does FILE load as XML\n"
    "  create-database DEVICE     copy the Jet template into place (asks on\n"
    "                             the terminal before replacing a file)\n"
    "  --help                     this text\n"
    "\n"
    "Exit status: 0 on success, 1 when the library produced nothing,\n"
    "2 for bad arguments.\n";

int Fail(const char* message) {
  std::fprintf(stderr, "quillmore: %s\n", message);
  return 2;
}

bool ParseInt(const char* s, int& out) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s || *end != '\0' || errno != 0 || v < -2147483647L - 1 ||
      v > 2147483647L) {
    return false;
  }
  out = static_cast<int>(v);
  return true;
}

// Calls a text getter with a growing buffer until the text fits.
template <typename F>
std::string Text(F get) {
  for (uint32_t size = 256; size <= (1u << 26); size *= 4) {
    std::vector<char> buf(size, '\0');
    uint32_t n = get(buf.data(), size);
    if (n != 0) return std::string(buf.data(), n);
  }
  return std::string();
}

void Line(const char* label, const std::string& value) {
  std::printf("%-20s %s\n", label, value.empty() ? "(none)" : value.c_str());
}

void Block(const char* title, const std::string& sql) {
  std::printf("\n-- %s\n%s\n", title, sql.empty() ? "(none)" : sql.c_str());
}

int Show(CQuillmoreExt& q, int device) {
  q.LoadData(device);
  const int type = q.GetDatabaseType();
  std::printf("device %d\n", device);
  std::printf("%-20s %d\n", "use database", q.GetUseDatabase());
  std::printf("%-20s %d\n", "database type", type);
  Line("database name",
       Text([&](char* b, uint32_t n) { return q.GetDatabaseName(b, n); }));
  Line("database server",
       Text([&](char* b, uint32_t n) { return q.GetDatabaseServer(b, n); }));
  Line("database path",
       Text([&](char* b, uint32_t n) { return q.GetDatabasePath(b, n); }));
  Line("user",
       Text([&](char* b, uint32_t n) { return q.GetDatabaseUser(b, n); }));
  Line("connection string",
       Text([&](char* b, uint32_t n) { return q.GetConnectionString(b, n); }));
  Line("text table",
       Text([&](char* b, uint32_t n) { return q.GetTableName(b, n); }));
  Line("xml stylesheet", Text([&](char* b, uint32_t n) {
         return q.GetXmlParserFile(device, b, n) != 0 ? std::strlen(b) : 0;
       }));
  Block("create text table", Text([&](char* b, uint32_t n) {
          return q.GetCreateQuery(type, b, n);
        }));
  Block("drop text table",
        Text([&](char* b, uint32_t n) { return q.GetDropQuery(type, b, n); }));
  return 0;
}

int Tables(CQuillmoreExt& q, int device) {
  q.LoadData(device);
  std::printf("device %d uses user tables: %s\n", device,
              q.GetUseUserTable(device) != 0 ? "yes" : "no");
  Block("user tables", Text([&](char* b, uint32_t n) {
          return q.GetUserTableNames(device, b, n);
        }));
  Block("create user tables", Text([&](char* b, uint32_t n) {
          return q.GetUserCreateQueryEx(device, b, n);
        }));
  Block("drop user tables", Text([&](char* b, uint32_t n) {
          return q.GetUserDropQueryEx(device, b, n);
        }));
  Block("select by date (template)", Text([&](char* b, uint32_t n) {
          return q.GetSelectTemplateQuery(b, n);
        }));
  return 0;
}

const char* KindName(uint8_t type) {
  switch (type) {
    case 0:
      return "xml";
    case 1:
      return "user-table field";
    default:
      return "keyword";
  }
}

int Items(CQuillmoreExt& q, int device) {
  q.LoadData(device);
  uint32_t count = q.GetItemSearchElementsCount(device);
  std::printf("device %d has %u search item(s)\n", device, count);
  for (uint32_t i = 0; i < count; ++i) {
    _tagITEMSEARCHINFO item;
    std::memset(&item, 0, sizeof item);
    if (q.GetItemSearchElementByIndex(device, i, &item) == 0) continue;
    std::printf("  [%u] %-16s %s", i, item.szName, KindName(item.byType));
    if (item.byType == 0)
      std::printf(" element=%s attribute=%s", item.szElement, item.szAttribute);
    if (item.byType == 1)
      std::printf(" table=%s field=%s", item.szTable, item.szField);
    if (item.byType >= 2)
      std::printf(" split=%d keyword=%s nokeyword=%s", item.nSplit,
                  item.szKeyword, item.szNoKeyword);
    std::printf("%s%s\n", item.dwFindNumber != 0 ? " numeric" : "",
                item.nPreItemId > 0 ? " (with a pre-item)" : "");
  }
  return 0;
}

bool ReadAll(const char* file, std::string& out) {
  if (std::strcmp(file, "-") == 0) {
    out.assign(std::istreambuf_iterator<char>(std::cin),
               std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return true;
}

// ITEM=VALUE[..VALUE2]: "text=abc", "0=12.5", "1=10..20".
bool ParseParam(const char* arg, _tagSEARCHPARAM& p) {
  std::memset(&p, 0, sizeof p);
  const char* eq = std::strchr(arg, '=');
  if (eq == nullptr) return false;
  std::string item(arg, eq);
  std::string value(eq + 1);
  if (item == "text") {
    p.nItemIndex = -1;
  } else if (!ParseInt(item.c_str(), p.nItemIndex) || p.nItemIndex < 0) {
    return false;
  }
  std::string low = value, high;
  size_t dots = value.find("..");
  if (dots != std::string::npos) {
    low = value.substr(0, dots);
    high = value.substr(dots + 2);
  }
  if (low.size() >= sizeof p.szValue1 || high.size() >= sizeof p.szValue2)
    return false;
  std::memcpy(p.szValue1, low.c_str(), low.size() + 1);
  std::memcpy(p.szValue2, high.c_str(), high.size() + 1);
  p.byCompare1 = high.empty() ? 0 : 2;  // = alone, >= with a range
  p.byCompare2 = 4;                     // <=
  return true;
}

bool ParseParams(int argc, char** argv, int first,
                 std::vector<_tagSEARCHPARAM>& params) {
  for (int i = first; i < argc; ++i) {
    _tagSEARCHPARAM p;
    if (!ParseParam(argv[i], p)) return false;
    params.push_back(p);
  }
  return true;
}

int Demo() {
  CQuillmoreExt q;
  for (int device = 1; device <= 3; ++device) {
    std::printf("==================== device %d ====================\n",
                device);
    Show(q, device);
    std::printf("\n");
    Tables(q, device);
    std::printf("\n");
    Items(q, device);
    char insert[4096];
    uint32_t n = q.GetInsertQueryEx(
        1, "2026-12-05 16:35:00", "16:35:00.120", "TOTAL 12.50 CARD",
        // The host doubles quotes in its own values; this XML has none.
        "<Receipt><Total>12.50</Total><Cashier>Ann</Cashier><Items>"
        "<Item name=\"Tea\" price=\"2.00\"/></Items></Receipt>",
        "/rec/cam1/0001.avi", 4096, insert, sizeof insert);
    Block("insert a text record", std::string(insert, n));
    Block("user-table inserts for record 42", Text([&](char* b, uint32_t s) {
            return q.GetUserInsertQuery(
                42,
                "<Receipt><Total>12.50</Total><Cashier>Ann</Cashier><Items>"
                "<Item name='Tea' price='2.00' qty='1'/>"
                "<Item price='10.50' name='Cake'/></Items></Receipt>",
                b, s);
          }));
    Block("select a day", Text([&](char* b, uint32_t s) {
            return q.GetSelectQueryByDateTime("2026-12-05 00:00:00",
                                              "2026-12-05 23:59:59", b, s);
          }));
    _tagSEARCHPARAM search[2];
    ParseParam("text=CARD", search[0]);
    ParseParam("0=10..20", search[1]);
    Block("search camera 1 for 'CARD' and item 0 from 10 to 20",
          Text([&](char* b, uint32_t s) {
            return q.GetSelectQueryByItemIndex(1, "2026-12-05 00:00:00",
                                               "2026-12-05 23:59:59", search,
                                               2, 0, b, s);
          }));
    _tagSEARCHPARAM keyword;
    ParseParam("2=", keyword);
    const bool match =
        q.GetItemSearchElementsCount(device) > 2 &&
        q.IsValidSearchRecord("TOTAL 12.50 CARD", &keyword, 1, 0) != 0;
    std::printf("\n-- the record text 'TOTAL 12.50 CARD' against item 2: %s\n",
                match ? "match" : "no match");
    Block("delete records before 2026-11-01", Text([&](char* b, uint32_t s) {
            return q.GetDeleteQueryByDate("2026-11-01", b, s);
          }));
    std::printf("\n");
  }
  return 0;
}

int Run(int argc, char** argv) {
  const std::string command = argv[1];
  int device = 0;
  const bool has_device = argc >= 3 && ParseInt(argv[2], device);
  CQuillmoreExt q;
  if (command == "demo" && argc == 2) return Demo();
  if (command == "show" && argc == 3 && has_device) return Show(q, device);
  if (command == "tables" && argc == 3 && has_device) return Tables(q, device);
  if (command == "items" && argc == 3 && has_device) return Items(q, device);
  if (command == "insert" && argc == 5 && has_device) {
    int id = 0;
    std::string xml;
    if (!ParseInt(argv[3], id)) return Fail("insert: bad record id");
    if (!ReadAll(argv[4], xml)) return Fail("insert: can't read the file");
    q.LoadData(device);
    std::string sql = Text([&](char* b, uint32_t n) {
      return q.GetUserInsertQuery(id, xml.c_str(), b, n);
    });
    if (sql.empty()) {
      std::fprintf(stderr, "quillmore: no statement for this record\n");
      return 1;
    }
    std::printf("%s\n", sql.c_str());
    return 0;
  }
  if (command == "search" && argc >= 6 && has_device) {
    int camera = 0;
    std::vector<_tagSEARCHPARAM> params;
    if (!ParseInt(argv[3], camera)) return Fail("search: bad camera");
    if (!ParseParams(argc, argv, 6, params))
      return Fail("search: parameters are ITEM=VALUE or ITEM=LOW..HIGH");
    q.LoadData(device);
    std::string sql = Text([&](char* b, uint32_t n) {
      return q.GetSelectQueryByItemIndex(
          camera, argv[4], argv[5], params.empty() ? nullptr : params.data(),
          static_cast<uint32_t>(params.size()), 0, b, n);
    });
    if (sql.empty()) return 1;
    std::printf("%s\n", sql.c_str());
    return 0;
  }
  if (command == "match" && argc >= 4 && has_device) {
    std::vector<_tagSEARCHPARAM> params;
    if (!ParseParams(argc, argv, 4, params))
      return Fail("match: parameters are ITEM=VALUE or ITEM=LOW..HIGH");
    q.LoadData(device);
    int ok = q.IsValidSearchRecord(
        argv[3], params.empty() ? nullptr : params.data(),
        static_cast<uint32_t>(params.size()), 0);
    std::printf("%s\n", ok != 0 ? "match" : "no match");
    return ok != 0 ? 0 : 1;
  }
  if (command == "set-database" && argc >= 5 && argc <= 9 && has_device) {
    int use = 0, type = 0;
    if (!ParseInt(argv[3], use) || !ParseInt(argv[4], type))
      return Fail("set-database: USE and TYPE are numbers");
    auto arg = [&](int i) { return i < argc ? argv[i] : nullptr; };
    q.LoadData(device);
    q.SetUseDatabase(device, use, type, arg(5), arg(6), arg(7), arg(8));
    return Show(q, device);
  }
  if (command == "set-xslt" && (argc == 3 || argc == 4) && has_device) {
    q.SetXmlParserFile(device, argc == 4 ? argv[3] : nullptr);
    std::printf("device %d stylesheet: %s\n", device,
                argc == 4 && argv[3][0] != '\0' ? argv[3] : "(none)");
    return 0;
  }
  if (command == "validate-xslt" && argc == 3) {
    int ok = q.ValidateXslt(argv[2]);
    std::printf("%s\n", ok != 0 ? "loads as XML" : "does not load as XML");
    return ok != 0 ? 0 : 1;
  }
  if (command == "create-database" && argc == 3 && has_device) {
    q.LoadData(device);
    int ok = q.CreateDatabase(device, 1,
                              "The database file exists. Replace it?");
    if (ok == 0) {
      std::fprintf(stderr,
                   "quillmore: device %d keeps no Jet database file\n", device);
      return 1;
    }
    std::printf("%s\n", Text([&](char* b, uint32_t n) {
                          return q.GetDatabaseName(b, n);
                        }).c_str());
    return 0;
  }
  std::fprintf(stderr, "quillmore: bad command or arguments\n%s", kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return Run(argc, argv);
}
