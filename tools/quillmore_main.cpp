// quillmore: the administration CLI. It reads and changes the device
// configurations in the DV folder beside this executable and previews every
// statement the library makes from them; it runs none. It uses only the
// public interface.
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#undef DeleteFile
#endif

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

#include "library_text.h"
#include "notation.h"
#include "quillmore/QuillmoreExt.h"
#include "search_args.h"

namespace {

using quillmore_tools::BatchText;
using quillmore_tools::RecordText;

const char kUsage[] =
    "usage: quillmore COMMAND [ARGS]\n"
    "\n"
    "Works on the device configurations in the DV folder beside this\n"
    "executable (DV/devdata<N>.ini) and previews the SQL made from them;\n"
    "nothing runs on a database (quillmore-host does that).\n"
    "\n"
    "devices and settings:\n"
    "  devices                      every device file, read without loading "
    "it\n"
    "  show DEVICE                  settings, connection string, text table\n"
    "  set-database DEVICE USE TYPE [PATH|SERVER [NAME [USER [PASSWORD]]]]\n"
    "  set-xslt DEVICE [FILE]       set or clear the device's stylesheet\n"
    "  validate-xslt FILE           does FILE load as XML\n"
    "  create-database DEVICE       copy the Jet template into place (type 1)\n"
    "user tables:\n"
    "  tables DEVICE                definitions, names, columns, CREATE, DROP\n"
    "  names DEVICE                 the user tables' names, one per line\n"
    "  set-user-tables DEVICE DEFS  store definitions, e.g.\n"
    "                               'Total:20 Cashier:30 "
    "Item[name:40,price:10]'\n"
    "  try-user-tables DEVICE DEFS  names, CREATE and DROP of DEFS, unstored\n"
    "search items:\n"
    "  items DEVICE                 the item-search definitions\n"
    "  add-item DEVICE FIELD=VALUE...\n"
    "  set-item DEVICE INDEX FIELD=VALUE...\n"
    "  delete-item DEVICE INDEX\n"
    "  set-items DEVICE [FIELD=VALUE... [/ FIELD=VALUE...]...]\n"
    "                               replace the whole list\n"
    "statements (previews):\n"
    "  sql DEVICE STATEMENT [ARGS]  create-database, create-table, "
    "drop-table,\n"
    "                               create-user-tables, drop-user-tables,\n"
    "                               insert, user-insert, delete-below,\n"
    "                               delete-before, browse, browse-template,\n"
    "                               search\n"
    "  insert DEVICE ID FILE        the same as sql DEVICE user-insert ID "
    "FILE\n"
    "  search DEVICE CAMERA FROM TO [TERM...] [--or]\n"
    "                               the same as sql DEVICE search ...\n"
    "  match DEVICE TEXT [TERM...] [--or]\n"
    "                               test one record text in memory\n"
    "  demo                         walk through the sample devices 1 to 3\n"
    "\n"
    "'quillmore COMMAND --help' tells more about one command;\n"
    "'quillmore --version' prints the version.\n"
    "Exit status: 0 on success, 1 when the library produced or stored\n"
    "nothing, 2 for bad arguments.\n";

struct Help {
  const char* command;
  const char* text;
};

const char kItemFields[] =
    "FIELDs: name, kind (0 or xml, 1 or field, 2 or keyword), element,\n"
    "attribute, compare (kind 0); table, field (kind 1); split, keyword,\n"
    "nokeyword (kind 2); value (a fixed value), number (1: compare as\n"
    "numbers), findtype (0: the first number of the text, 1: the last),\n"
    "pre (the 1-based number of an item applied first). Text fields hold\n"
    "49 bytes, table and field 59.\n";

const Help kHelp[] = {
    {"devices",
     "usage: quillmore devices\n\nEvery DV/devdata<N>.ini beside quillmore, "
     "read from its file without\nloading it: database type, Jet folder, text "
     "table, user tables in use,\nnumber of search items.\n"},
    {"show",
     "usage: quillmore show DEVICE\n\nDatabase settings, connection "
     "string, text table name, stylesheet.\n"},
    {"set-database",
     "usage: quillmore set-database DEVICE USE TYPE [PATH|SERVER [NAME [USER "
     "[PASSWORD]]]]\n\nTypes: 0 none, 1 Jet (PATH is the folder), 2 and 3 "
     "SQL Server, 4 MySQL.\nAn argument left out keeps its setting.\n"},
    {"set-xslt",
     "usage: quillmore set-xslt DEVICE [FILE]\n\nWith FILE the "
     "device's records are transformed before their values\nare "
     "read; without, the stylesheet is cleared.\n"},
    {"validate-xslt", "usage: quillmore validate-xslt FILE\n"},
    {"create-database",
     "usage: quillmore create-database DEVICE\n\nCopies DV/textdb.tmp to the "
     "device's Jet file; asks on the terminal\nbefore replacing one.\n"},
    {"tables",
     "usage: quillmore tables DEVICE\n\nThe user-table definitions (in the "
     "notation set-user-tables takes),\nthe tables' names and columns, their "
     "CREATE and DROP batches and the\ndate-range SELECT template.\n"},
    {"names",
     "usage: quillmore names DEVICE\n\nThe user tables' names, the "
     "main table first, one per line. Their names\ncarry this "
     "machine's volume serial.\n"},
    {"set-user-tables",
     "usage: quillmore set-user-tables DEVICE DEFS...\n\n"
     "DEFS: NAME:LENGTH for a column of the main user table, and\n"
     "NAME[NAME:LENGTH,...] for a group element whose attributes fill a\n"
     "group table of its own; NAME:LENGTH:TYPE stores a field type too.\n"
     "Example: 'Total:20 Cashier:30 Item[name:40,price:10]'. An empty DEFS\n"
     "('') turns user tables off. The library refuses empty names and a\n"
     "name repeated on one level; names have at most 49 bytes and a group\n"
     "at most 255 columns.\n"},
    {"try-user-tables",
     "usage: quillmore try-user-tables DEVICE DEFS...\n\nThe names, CREATE "
     "and DROP batches the definitions would give, without\nstoring them "
     "(DEFS as for set-user-tables).\n"},
    {"items",
     "usage: quillmore items DEVICE\n\nThe item-search definitions, "
     "one per line, in the FIELD=VALUE form\nadd-item takes.\n"},
    {"add-item", nullptr},
    {"set-item", nullptr},
    {"delete-item", "usage: quillmore delete-item DEVICE INDEX\n"},
    {"set-items", nullptr},
    {"sql",
     "usage: quillmore sql DEVICE STATEMENT [ARGS]\n\n"
     "  create-database [NAME]       the device's DBNAME unless NAME is given\n"
     "  create-table | drop-table    the text table\n"
     "  create-user-tables | drop-user-tables\n"
     "  insert CAMERA DATE TEXT [--xml FILE] [--systime T] [--savepath P]\n"
     "         [--savepos N]         one text record's INSERT\n"
     "  user-insert ID FILE|-        the user-table INSERTs of one record's "
     "XML\n"
     "  delete-below ID              DELETE batch for records below ID\n"
     "  delete-before DATE           DELETE batch for records before DATE\n"
     "  browse FROM TO | browse-template\n"
     "  search CAMERA FROM TO [TERM...] [--or]\n"
     "                               TERM: ITEM=VALUE, ITEM>VALUE, "
     "ITEM>=VALUE,\n"
     "                               ITEM<VALUE, ITEM<=VALUE; ITEM an item\n"
     "                               index or 'text'; CAMERA 100 for all\n\n"
     "Values go in as given: the library doesn't escape them, a host must\n"
     "(quillmore-host does).\n"},
    {"insert",
     "usage: quillmore insert DEVICE ID FILE|-\n\nThe user-table "
     "INSERTs for one record's XML.\n"},
    {"search",
     "usage: quillmore search DEVICE CAMERA FROM TO [TERM...] [--or]\n"
     "\nThe search SELECT ('quillmore sql --help' tells TERM).\n"},
    {"match",
     "usage: quillmore match DEVICE TEXT [TERM...] [--or]\n\nTests one "
     "record's text against the keyword items in memory.\n"},
    {"demo", "usage: quillmore demo\n"},
};

void PrintHelp(const std::string& command, std::FILE* out) {
  for (const Help& h : kHelp) {
    if (command != h.command) continue;
    if (h.text != nullptr) {
      std::fputs(h.text, out);
    } else if (command == "add-item") {
      std::fprintf(out, "usage: quillmore add-item DEVICE FIELD=VALUE...\n\n%s",
                   kItemFields);
    } else if (command == "set-item") {
      std::fprintf(
          out,
          "usage: quillmore set-item DEVICE INDEX FIELD=VALUE...\n\n"
          "Changes the given fields of one item, keeps the others.\n%s",
          kItemFields);
    } else {
      std::fprintf(out,
                   "usage: quillmore set-items DEVICE [FIELD=VALUE... [/ "
                   "FIELD=VALUE...]...]\n\nReplaces the whole list; '/' "
                   "separates the items, none empties it.\n%s",
                   kItemFields);
    }
  }
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "quillmore: %s\n", message.c_str());
  return 2;
}

int Nothing(const std::string& message) {
  std::fprintf(stderr, "quillmore: %s\n", message.c_str());
  return 1;
}

bool ParseInt(const std::string& s, int& out) {
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

void Line(const char* label, const std::string& value) {
  std::printf("%-20s %s\n", label, value.empty() ? "(none)" : value.c_str());
}

void Block(const char* title, const std::string& sql) {
  std::printf("\n-- %s\n%s\n", title, sql.empty() ? "(none)" : sql.c_str());
}

bool ReadAll(const std::string& file, std::string& out) {
  if (file == "-") {
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

uint32_t Bound(CQuillmoreExt& q, int device) {
  return quillmore_tools::UserTableEntryBound(q, device);
}

// ------------------------------------------------------------ settings

int Show(CQuillmoreExt& q, int device) {
  q.LoadData(device);
  const int type = q.GetDatabaseType();
  std::printf("device %d\n", device);
  std::printf("%-20s %d\n", "use database", q.GetUseDatabase());
  std::printf("%-20s %d\n", "database type", type);
  Line("database name", RecordText([&](char* b, uint32_t n) {
         return q.GetDatabaseName(b, n);
       }));
  Line("database server", RecordText([&](char* b, uint32_t n) {
         return q.GetDatabaseServer(b, n);
       }));
  Line("database path", RecordText([&](char* b, uint32_t n) {
         return q.GetDatabasePath(b, n);
       }));
  Line("user", RecordText([&](char* b, uint32_t n) {
         return q.GetDatabaseUser(b, n);
       }));
  const size_t password = RecordText([&](char* b, uint32_t n) {
                            return q.GetDatabasePassword(b, n);
                          }).size();
  Line("password",
       password ? "(set, " + std::to_string(password) + " characters)" : "");
  Line("connection string", RecordText([&](char* b, uint32_t n) {
         return q.GetConnectionString(b, n);
       }));
  Line("text table",
       RecordText([&](char* b, uint32_t n) { return q.GetTableName(b, n); }));
  std::printf("%-20s %s\n", "xml parser",
              q.GetUseXmlParser(device) != 0 ? "on" : "off");
  Line("xml stylesheet", RecordText([&](char* b, uint32_t n) {
         return q.GetXmlParserFile(device, b, n) != 0
                    ? static_cast<uint32_t>(std::strlen(b))
                    : 0u;
       }));
  return 0;
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

int Devices(CQuillmoreExt& q) {
  q.UnloadData();  // every answer below then comes from the files
  const std::string dv = DvFolder();
  std::printf("%-7s %-5s %-30s %-6s %-6s %s\n", "device", "type", "text table",
              "users", "items", "Jet folder");
  int found = 0;
  for (int device = 0; device <= 999; ++device) {
    if (!std::ifstream(dv + "/devdata" + std::to_string(device) + ".ini"))
      continue;
    ++found;
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
  }
  if (found == 0) std::printf("(no device files in DV)\n");
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

int Tables(CQuillmoreExt& q, int device) {
  q.LoadData(device);
  std::printf("device %d uses user tables: %s\n", device,
              q.GetUseUserTable(device) != 0 ? "yes" : "no");
  Block("definitions",
        quillmore_tools::FormatUserTables(StoredDefinitions(q, device)));
  const uint32_t bound = Bound(q, device);
  const std::string names = BatchText(
      [&](char* b, uint32_t n) { return q.GetUserTableNames(device, b, n); },
      bound);
  std::string columns;
  for (size_t start = 0; start < names.size();) {
    size_t end = names.find('\n', start);
    if (end == std::string::npos) end = names.size();
    const std::string name = names.substr(start, end - start);
    std::string fields = BatchText(
        [&](char* b, uint32_t n) {
          return q.GetUserFieldsByTable(device, name.c_str(), b, n);
        },
        bound);
    for (char& c : fields) c = c == '\n' ? ' ' : c;
    columns += (columns.empty() ? "" : "\n") + name + ": f_id " + fields;
    start = end + 1;
  }
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
  Block("select by date (template)", RecordText([&](char* b, uint32_t n) {
          return q.GetSelectTemplateQuery(b, n);
        }));
  return 0;
}

int SetUserTables(CQuillmoreExt& q, int device,
                  const std::vector<std::string>& args, bool store) {
  std::string text, error;
  for (const std::string& a : args) text += a + " ";
  std::vector<quillmore_tools::UserTableDef> defs;
  if (!quillmore_tools::ParseUserTables(text, defs, error)) return Fail(error);
  for (const std::string& note : quillmore_tools::UserTableNotes(defs)) {
    std::fprintf(stderr, "quillmore: note: %s\n", note.c_str());
  }
  quillmore_tools::UserTableRecords records(defs);
  q.LoadData(device);
  if (store) {
    if (q.SetUserTableElements(device, records.data(), records.count()) == 0) {
      return Nothing("the library refused the definitions");
    }
    std::printf("device %d: %s\n", device,
                defs.empty() ? "user tables off"
                             : quillmore_tools::FormatUserTables(defs).c_str());
    return 0;
  }
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

int Items(CQuillmoreExt& q, int device) {
  q.LoadData(device);
  const uint32_t count = q.GetItemSearchElementsCount(device);
  std::printf("device %d has %u search item(s)\n", device, count);
  if (count == 0) return 0;
  std::vector<_tagITEMSEARCHINFO> items(count);
  if (q.GetItemSearchElement(device, items.data(), count) == 0)
    return Nothing("can't read the items");
  for (uint32_t i = 0; i < count; ++i) {
    std::printf("  [%u] %s\n", i,
                quillmore_tools::FormatItem(items[i]).c_str());
  }
  return 0;
}

int ChangeItems(CQuillmoreExt& q, const std::string& command, int device,
                const std::vector<std::string>& args) {
  q.LoadData(device);
  std::string error;
  if (command == "delete-item") {
    int index = 0;
    if (args.size() != 1 || !ParseInt(args[0], index) || index < 0)
      return Fail("delete-item takes an INDEX");
    if (q.DeleteItemSearchElementByIndex(device,
                                         static_cast<uint32_t>(index)) == 0) {
      return Nothing("device " + std::to_string(device) + " has no item " +
                     args[0]);
    }
    return Items(q, device);
  }
  if (command == "set-items") {
    _tagITEMSEARCHINFO fresh{};
    fresh.nSplit = -1;  // no shape test, as in a file without SPLIT
    std::vector<_tagITEMSEARCHINFO> items(1, fresh);
    for (const std::string& a : args) {
      if (a == "/") {
        items.push_back(fresh);
      } else if (!quillmore_tools::SetItemField(items.back(), a, error)) {
        return Fail(error);
      }
    }
    if (args.empty()) items.clear();
    _tagITEMSEARCHINFO none{};
    if (q.SetItemSearchElement(device, items.empty() ? &none : items.data(),
                               static_cast<uint32_t>(items.size())) == 0) {
      return Nothing("the library refused the list");
    }
    return Items(q, device);
  }
  _tagITEMSEARCHINFO item{};
  size_t first = 0;
  int index = 0;
  if (command == "set-item") {
    if (args.empty() || !ParseInt(args[0], index) || index < 0)
      return Fail("set-item takes an INDEX first");
    if (q.GetItemSearchElementByIndex(device, static_cast<uint32_t>(index),
                                      &item) == 0) {
      return Nothing("device " + std::to_string(device) + " has no item " +
                     args[0]);
    }
    first = 1;
  } else {
    item.nSplit = -1;
  }
  if (args.size() <= first)
    return Fail(command + " takes FIELD=VALUE arguments");
  for (size_t i = first; i < args.size(); ++i) {
    if (!quillmore_tools::SetItemField(item, args[i], error))
      return Fail(error);
  }
  if (item.byType > 2) return Fail("kind is 0, 1 or 2");
  const int ok = command == "set-item"
                     ? q.SetItemSearchElementByIndex(
                           device, static_cast<uint32_t>(index), &item)
                     : q.AddItemSearchElement(device, &item);
  if (ok == 0) return Nothing("the library refused the item");
  return Items(q, device);
}

// ------------------------------------------------------------ statements

// Takes "--name VALUE" out of args.
bool TakeOption(std::vector<std::string>& args, const char* name,
                std::string& value) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != name) continue;
    if (i + 1 >= args.size()) return false;
    value = args[i + 1];
    args.erase(args.begin() + static_cast<long>(i),
               args.begin() + static_cast<long>(i) + 2);
    return true;
  }
  return true;
}

bool TakeFlag(std::vector<std::string>& args, const char* name) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

int Print(const std::string& sql, const char* what) {
  if (sql.empty()) return Nothing("the library made no " + std::string(what));
  std::printf("%s\n", sql.c_str());
  return 0;
}

int Search(CQuillmoreExt& q, int device, std::vector<std::string> args) {
  const bool or_mode = TakeFlag(args, "--or");
  int camera = 0;
  if (args.size() < 3 || !ParseInt(args[0], camera))
    return Fail("search takes CAMERA FROM TO [TERM...]");
  std::vector<_tagSEARCHPARAM> params;
  std::string error;
  if (!quillmore_tools::ParseSearchArgs(
          std::vector<std::string>(args.begin() + 3, args.end()), params,
          error)) {
    return Fail(error);
  }
  q.LoadData(device);
  return Print(RecordText(
                   [&](char* b, uint32_t n) {
                     return q.GetSelectQueryByItemIndex(
                         camera, args[1].c_str(), args[2].c_str(),
                         params.empty() ? nullptr : params.data(),
                         static_cast<uint32_t>(params.size()), or_mode ? 1 : 0,
                         b, n);
                   },
                   quillmore_tools::kFieldLimit +
                       1024 * static_cast<uint32_t>(params.size())),
               "search SELECT");
}

int UserInsert(CQuillmoreExt& q, int device,
               const std::vector<std::string>& args) {
  int id = 0;
  std::string xml;
  if (args.size() != 2 || !ParseInt(args[0], id))
    return Fail("user-insert takes a record ID and a FILE");
  if (!ReadAll(args[1], xml)) return Fail("can't read " + args[1]);
  q.LoadData(device);
  return Print(RecordText(
                   [&](char* b, uint32_t n) {
                     return q.GetUserInsertQuery(id, xml.c_str(), b, n);
                   },
                   static_cast<uint32_t>(std::min<uint64_t>(
                       16 * uint64_t{xml.size()} + 65536, INT32_MAX))),
               "user-table INSERT for this record");
}

int Sql(CQuillmoreExt& q, int device, const std::string& what,
        std::vector<std::string> args) {
  q.LoadData(device);
  const int type = q.GetDatabaseType();
  auto none = [&] {
    return args.empty() ? 0 : Fail(what + " takes no arguments");
  };
  if (what == "create-database") {
    std::string name = args.empty() ? RecordText([&](char* b, uint32_t n) {
      return q.GetDatabaseName(b, n);
    })
                                    : args[0];
    if (args.size() > 1) return Fail("create-database takes at most a NAME");
    return Print(
        RecordText([&](char* b, uint32_t n) {
          return q.GetCreateDatabaseQuery(type, name.c_str(), b, n);
        }),
        "CREATE DATABASE (type 1 has none; is there a DV/db<TYPE>.sql?)");
  }
  if (what == "create-table" || what == "drop-table") {
    if (const int rc = none()) return rc;
    return Print(RecordText([&](char* b, uint32_t n) {
                   return what == "create-table" ? q.GetCreateQuery(type, b, n)
                                                 : q.GetDropQuery(type, b, n);
                 }),
                 "statement for the text table");
  }
  if (what == "create-user-tables" || what == "drop-user-tables") {
    if (const int rc = none()) return rc;
    return Print(BatchText(
                     [&](char* b, uint32_t n) {
                       return what == "create-user-tables"
                                  ? q.GetUserCreateQueryEx(device, b, n)
                                  : q.GetUserDropQueryEx(device, b, n);
                     },
                     Bound(q, device)),
                 "statement for user tables");
  }
  if (what == "insert") {
    std::string xml_file, xml, systime, savepath, savepos = "0";
    if (!TakeOption(args, "--xml", xml_file) ||
        !TakeOption(args, "--systime", systime) ||
        !TakeOption(args, "--savepath", savepath) ||
        !TakeOption(args, "--savepos", savepos)) {
      return Fail("an option lacks its value");
    }
    int camera = 0, position = 0;
    if (args.size() != 3 || !ParseInt(args[0], camera) ||
        !ParseInt(savepos, position)) {
      return Fail(
          "insert takes CAMERA DATE TEXT [--xml FILE] [--systime T] "
          "[--savepath P] [--savepos N]");
    }
    if (!xml_file.empty() && !ReadAll(xml_file, xml))
      return Fail("can't read " + xml_file);
    const uint64_t bound = 160 + 64 + args[1].size() + args[2].size() +
                           xml.size() + systime.size() + savepath.size();
    if (bound > INT32_MAX) return Fail("the record is too large");
    return Print(
        RecordText(
            [&](char* b, uint32_t n) {
              return q.GetInsertQueryEx(camera, args[1].c_str(),
                                        systime.c_str(), args[2].c_str(),
                                        xml.c_str(), savepath.c_str(),
                                        static_cast<uint32_t>(position), b, n);
            },
            static_cast<uint32_t>(bound), static_cast<uint32_t>(bound)),
        "INSERT (is a device with a database loaded?)");
  }
  if (what == "user-insert") return UserInsert(q, device, args);
  if (what == "delete-below") {
    int id = 0;
    if (args.size() != 1 || !ParseInt(args[0], id))
      return Fail("delete-below takes a record number");
    return Print(RecordText([&](char* b, uint32_t n) {
                   return q.GetDeleteQueryByID(id, b, n);
                 }),
                 "DELETE batch (a device of type 0 has none)");
  }
  if (what == "delete-before") {
    if (args.size() != 1) return Fail("delete-before takes a DATE");
    return Print(RecordText([&](char* b, uint32_t n) {
                   return q.GetDeleteQueryByDate(args[0].c_str(), b, n);
                 }),
                 "DELETE batch (a device of type 0 has none)");
  }
  if (what == "browse") {
    if (args.size() != 2) return Fail("browse takes FROM TO");
    return Print(RecordText([&](char* b, uint32_t n) {
                   return q.GetSelectQueryByDateTime(args[0].c_str(),
                                                     args[1].c_str(), b, n);
                 }),
                 "SELECT");
  }
  if (what == "browse-template") {
    if (const int rc = none()) return rc;
    return Print(RecordText([&](char* b, uint32_t n) {
                   return q.GetSelectTemplateQuery(b, n);
                 }),
                 "SELECT");
  }
  if (what == "search") return Search(q, device, args);
  return Fail("unknown statement '" + what +
              "' ('quillmore sql --help' lists them)");
}

int Match(CQuillmoreExt& q, int device, std::vector<std::string> args) {
  const bool or_mode = TakeFlag(args, "--or");
  std::vector<_tagSEARCHPARAM> params;
  std::string error;
  if (args.empty()) return Fail("match takes a TEXT");
  if (!quillmore_tools::ParseSearchArgs(
          std::vector<std::string>(args.begin() + 1, args.end()), params,
          error)) {
    return Fail(error);
  }
  q.LoadData(device);
  const int ok = q.IsValidSearchRecord(
      args[0].c_str(), params.empty() ? nullptr : params.data(),
      static_cast<uint32_t>(params.size()), or_mode ? 1 : 0);
  std::printf("%s\n", ok != 0 ? "match" : "no match");
  return ok != 0 ? 0 : 1;
}

// ------------------------------------------------------------ demo

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
    std::printf("\n-- insert a text record\n");
    // The host doubles quotes in its own values; these have none.
    Sql(q, device, "insert",
        {"1", "2026-12-05 16:35:00", "TOTAL 12.50 CARD", "--savepath",
         "/rec/cam1/0001.avi", "--savepos", "4096"});
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
    Sql(q, device, "browse", {"2026-12-05 00:00:00", "2026-12-05 23:59:59"});
    std::printf("\n-- search camera 1 for 'CARD' and item 0 from 10 to 20\n");
    Search(q, device,
           {"1", "2026-12-05 00:00:00", "2026-12-05 23:59:59", "text=CARD",
            "0>=10", "0<=20"});
    _tagSEARCHPARAM keyword{};
    keyword.nItemIndex = 2;
    const bool match =
        q.GetItemSearchElementsCount(device) > 2 &&
        q.IsValidSearchRecord("TOTAL 12.50 CARD", &keyword, 1, 0) != 0;
    std::printf("\n-- the record text 'TOTAL 12.50 CARD' against item 2: %s\n",
                match ? "match" : "no match");
    std::printf("\n-- delete records before 2026-11-01\n");
    Sql(q, device, "delete-before", {"2026-11-01"});
    std::printf("\n");
  }
  return 0;
}

int Run(const std::string& command, std::vector<std::string> args) {
  CQuillmoreExt q;
  if (command == "demo" && args.empty()) return Demo();
  if (command == "devices" && args.empty()) return Devices(q);
  if (command == "validate-xslt" && args.size() == 1) {
    const int ok = q.ValidateXslt(args[0].c_str());
    std::printf("%s\n", ok != 0 ? "loads as XML" : "does not load as XML");
    return ok != 0 ? 0 : 1;
  }
  int device = 0;
  if (args.empty() || !ParseInt(args[0], device)) {
    return Fail(command + " takes a DEVICE number ('quillmore " + command +
                " --help')");
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "show" && rest.empty()) return Show(q, device);
  if (command == "tables" && rest.empty()) return Tables(q, device);
  if (command == "items" && rest.empty()) return Items(q, device);
  if (command == "names" && rest.empty()) {
    q.LoadData(device);
    return Print(
        BatchText([&](char* b,
                      uint32_t n) { return q.GetUserTableNames(device, b, n); },
                  Bound(q, device)),
        "user-table names (are user tables on?)");
  }
  if (command == "set-user-tables" || command == "try-user-tables") {
    return SetUserTables(q, device, rest, command == "set-user-tables");
  }
  if (command == "add-item" || command == "set-item" ||
      command == "delete-item" || command == "set-items") {
    return ChangeItems(q, command, device, rest);
  }
  if (command == "sql" && !rest.empty()) {
    return Sql(q, device, rest[0],
               std::vector<std::string>(rest.begin() + 1, rest.end()));
  }
  if (command == "insert") return Sql(q, device, "user-insert", rest);
  if (command == "search") return Search(q, device, rest);
  if (command == "match") return Match(q, device, rest);
  if (command == "set-database" && rest.size() >= 2 && rest.size() <= 6) {
    int use = 0, type = 0;
    if (!ParseInt(rest[0], use) || !ParseInt(rest[1], type))
      return Fail("set-database: USE and TYPE are numbers");
    auto arg = [&](size_t i) {
      return i < rest.size() ? rest[i].c_str() : nullptr;
    };
    q.LoadData(device);
    q.SetUseDatabase(device, use, type, arg(2), arg(3), arg(4), arg(5));
    return Show(q, device);
  }
  if (command == "set-xslt" && rest.size() <= 1) {
    q.SetXmlParserFile(device, rest.empty() ? nullptr : rest[0].c_str());
    std::printf("device %d stylesheet: %s\n", device,
                !rest.empty() && !rest[0].empty() ? rest[0].c_str() : "(none)");
    return 0;
  }
  if (command == "create-database" && rest.empty()) {
    q.LoadData(device);
    if (q.CreateDatabase(device, 1, "The database file exists. Replace it?") ==
        0) {
      return Nothing("device " + std::to_string(device) +
                     " keeps no Jet database file");
    }
    std::printf("%s\n", RecordText([&](char* b, uint32_t n) {
                          return q.GetDatabaseName(b, n);
                        }).c_str());
    return 0;
  }
  std::fprintf(stderr, "quillmore: bad arguments for %s\n", command.c_str());
  PrintHelp(command, stderr);
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
  if (command == "--version") {
    std::printf("quillmore %s\n", QUILLMORE_VERSION);
    return 0;
  }
  bool known = false;
  for (const Help& h : kHelp) known = known || command == h.command;
  if (!known) {
    std::fprintf(stderr, "quillmore: unknown command '%s'\n%s", command.c_str(),
                 kUsage);
    return 2;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      PrintHelp(command, stdout);
      return 0;
    }
  }
  return Run(command, args);
}
