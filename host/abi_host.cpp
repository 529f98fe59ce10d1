// quillmore-abi-host: one host of the library, built for Linux (g++), for
// Windows by MinGW-w64 (GCC's class ABI, through libquillmore.dll.a) and by
// clang for Microsoft's ABI (x64 and x86, through quillmore.lib). It uses
// only the public header and a few C runtime functions, so the Microsoft
// builds need no SDK: they are freestanding, start at HostStart and import
// their C runtime from msvcrt.dll, as the library does.
//
// It runs beside its library with a copy of the sample DV folder, started
// from another folder. It makes objects on the heap, on the stack, by copy
// and by assignment, calls every method of the class and prints one line per
// answer ("= name: answer", the volume serial in table names shown as
// <serial>): tests/abi_hosts.sh compares these lines across the builds.
// Checks of what differs by system print "ok"/"FAIL" lines, which are not
// compared; the exit status is 1 when one fails.
#include "quillmore/QuillmoreExt.h"

#if defined(_MSC_VER)
// No SDK headers: the few declarations the host needs, from msvcrt.dll
// (cdecl) and KERNEL32.dll.
typedef decltype(sizeof 0) size_t;
struct FILE;
extern "C" {
int printf(const char* format, ...);
void* malloc(size_t size);
void free(void* block);
void* memset(void* p, int c, size_t n);
size_t strlen(const char* s);
int strcmp(const char* a, const char* b);
const char* strstr(const char* text, const char* part);
FILE* fopen(const char* path, const char* mode);
size_t fread(void* p, size_t size, size_t n, FILE* f);
size_t fwrite(const void* p, size_t size, size_t n, FILE* f);
int fclose(FILE* f);
int fflush(FILE* f);
int _mkdir(const char* path);
int _heapchk();
void exit(int status);
__declspec(dllimport) int __stdcall GetVolumeInformationA(
    const char* root, char* name, unsigned long name_size,
    unsigned long* serial, unsigned long* max_component, unsigned long* flags,
    char* fs_name, unsigned long fs_name_size);
}
// The host's own operator new and delete, on the runtime the library frees
// with.
void* operator new(size_t n) { return malloc(n); }
void* operator new[](size_t n) { return malloc(n); }
void operator delete(void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
#define MakeFolder(path) _mkdir(path)
#else
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <direct.h>
#include <windows.h>
#define MakeFolder(path) _mkdir(path)
#else
#define MakeFolder(path) mkdir(path, 0755)
#endif
#endif

namespace {

typedef QUILLMORE_ULONG ULong;

int g_failures = 0;
char g_serial[16];   // the volume serial as table names carry it
char g_text[16384];  // the answer of the last text call

void Check(bool ok, const char* what) {
  printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++g_failures;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Whether the serial follows the underscore at p.
bool SerialAfter(const char* p) {
  const size_t n = strlen(g_serial);
  return *p == '_' && n > 0 && strstr(p + 1, g_serial) == p + 1 &&
         !IsHex(p[1 + n]);
}

// Prints "= name: text" with line feeds shown as " | " and the serial after
// an underscore as <serial>.
void Say(const char* name, const char* text) {
  printf("= %s: ", name);
  for (const char* p = text; *p != '\0'; ++p) {
    if (SerialAfter(p)) {
      printf("_<serial>");
      p += strlen(g_serial);
    } else if (*p == '\n') {
      printf(" | ");
    } else {
      printf("%c", *p);
    }
  }
  printf("\n");
}

void SayNumber(const char* name, long n) { printf("= %s: %ld\n", name, n); }

// A text answer: its length, and the text when there is one. The length
// counts each serial as the eight characters of <serial>, so that machines
// with serials of other lengths (a new Wine prefix's is 0) answer alike.
void SayText(const char* name, ULong n) {
  unsigned long shown = n;
  if (n > 0 && n < sizeof g_text) {
    for (const char* p = g_text; *p != '\0'; ++p) {
      if (SerialAfter(p)) shown = shown - strlen(g_serial) + 8;
    }
  }
  printf("= %s: %lu chars\n", name, shown);
  if (n > 0) Say(name, g_text);
}

void Clear() { memset(g_text, 0, sizeof g_text); }

bool PutFile(const char* path, const char* text) {
  FILE* f = fopen(path, "wb");
  if (f == nullptr) return false;
  const bool ok = fwrite(text, 1, strlen(text), f) == strlen(text);
  return fclose(f) == 0 && ok;
}

// The first bytes of a file, zero-terminated in g_text; 0 when unreadable.
size_t GetFile(const char* path) {
  Clear();
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return 0;
  const size_t n = fread(g_text, 1, sizeof g_text - 1, f);
  fclose(f);
  return n;
}

void SayUserTable(const char* name, const _tagUSERTABLEINFO& e) {
  char line[512];
  size_t n = 0;
  line[0] = '\0';
  for (ULong i = 0; i < e.dwChildLen && e.pChild != nullptr; ++i) {
    const char* child = e.pChild[i].szElement;
    const size_t len = strlen(child);
    if (n + len + 2 >= sizeof line) break;
    line[n++] = ' ';
    for (size_t k = 0; k <= len; ++k) line[n + k] = child[k];
    n += len;
  }
  printf("= %s: %s type %u len %d children %lu:%s\n", name, e.szElement,
         static_cast<unsigned>(e.byFieldType), static_cast<int>(e.dwFieldLen),
         static_cast<unsigned long>(e.dwChildLen), line);
}

void SayItem(const char* name, const _tagITEMSEARCHINFO& e) {
  printf(
      "= %s: %s type %u element %s attribute %s compare %u table %s field %s "
      "split %d keyword %s nokeyword %s value %s number %d findtype %d "
      "pre %d\n",
      name, e.szName, static_cast<unsigned>(e.byType), e.szElement,
      e.szAttribute, static_cast<unsigned>(e.byCompareType), e.szTable,
      e.szField, static_cast<int>(e.nSplit), e.szKeyword, e.szNoKeyword,
      e.szDefinedValue, static_cast<int>(e.dwFindNumber),
      static_cast<int>(e.nFindType), static_cast<int>(e.nPreItemId));
}

void Copy(char* to, size_t size, const char* from) {
  size_t i = 0;
  for (; i + 1 < size && from[i] != '\0'; ++i) to[i] = from[i];
  to[i] = '\0';
}

// Every method on the sample installation, through one object.
void AskEverything(CQuillmoreExt& q) {
  SayNumber("GetUseDatabase, fresh", q.GetUseDatabase());
  Clear();
  SayText("GetDatabaseName, nothing loaded", q.GetDatabaseName(g_text, 64));
  SayNumber("LoadData 1", q.LoadData(1));
  SayNumber("GetUseDatabase", q.GetUseDatabase());
  SayNumber("GetDatabaseType", q.GetDatabaseType());
  SayNumber("GetDatabaseTypeEx 3", q.GetDatabaseTypeEx(3));
  SayText("GetDatabaseName", q.GetDatabaseName(g_text, sizeof g_text));
  SayText("GetDatabaseUser", q.GetDatabaseUser(g_text, sizeof g_text));
  SayText("GetDatabasePassword", q.GetDatabasePassword(g_text, sizeof g_text));
  SayText("GetDatabaseServer", q.GetDatabaseServer(g_text, sizeof g_text));
  SayText("GetDatabasePath", q.GetDatabasePath(g_text, sizeof g_text));
  Clear();
  SayText("GetDatabasePathEx 3", q.GetDatabasePathEx(3, g_text, 64));
  SayText("GetConnectionString", q.GetConnectionString(g_text, sizeof g_text));
  SayText("GetCreateQuery 1", q.GetCreateQuery(1, g_text, sizeof g_text));
  SayText("GetDropQuery 4", q.GetDropQuery(4, g_text, sizeof g_text));
  SayText("GetTableName", q.GetTableName(g_text, sizeof g_text));
  SayText("GetTableNameEx 3", q.GetTableNameEx(3, g_text, sizeof g_text));
  SayText("GetCreateDatabaseQuery 4",
          q.GetCreateDatabaseQuery(4, "till", g_text, sizeof g_text));
  Clear();
  SayText("GetInsertQueryEx",
          q.GetInsertQueryEx(2, "2024-05-01 10:00:00", "10:00:01",
                             "TOTAL 12.50 CARD", "<r><Total>12.50</Total></r>",
                             "D:\\rec\\2", 4096, g_text, sizeof g_text));
  SayText("GetDeleteQueryByID", q.GetDeleteQueryByID(7, g_text, sizeof g_text));
  SayText("GetDeleteQueryByDate",
          q.GetDeleteQueryByDate("2024-05-01", g_text, sizeof g_text));
  SayText("GetSelectQueryByDateTime",
          q.GetSelectQueryByDateTime("2024-05-01", "2024-05-02", g_text,
                                     sizeof g_text));
  SayText("GetSelectTemplateQuery",
          q.GetSelectTemplateQuery(g_text, sizeof g_text));

  SayNumber("GetUseUserTable 1", q.GetUseUserTable(1));
  SayNumber("GetUserTableElementsCount 1", q.GetUserTableElementsCount(1));
  _tagUSERTABLEINFO defs[4];
  memset(defs, 0, sizeof defs);
  const ULong n = q.GetUserTableElements(1, defs, 4);
  SayNumber("GetUserTableElements 1", static_cast<long>(n));
  for (ULong i = 0; i < n; ++i) SayUserTable("user table element", defs[i]);
  SayText("GetUserCreateQueryEx 1",
          q.GetUserCreateQueryEx(1, g_text, sizeof g_text));
  SayText("GetUserCreateQueryTest 1",
          q.GetUserCreateQueryTest(1, defs, n, g_text, sizeof g_text));
  SayText("GetUserDropQueryEx 1",
          q.GetUserDropQueryEx(1, g_text, sizeof g_text));
  SayText("GetUserTableNamesByElements 1",
          q.GetUserTableNamesByElements(1, g_text, sizeof g_text, defs, n));
  SayText("GetUserDropQueryByElements 1",
          q.GetUserDropQueryByElements(1, g_text, sizeof g_text, defs, n));
  SayNumber("FreeUserTableElements", q.FreeUserTableElements(defs, n));
  SayText("GetUserTableNames 1", q.GetUserTableNames(1, g_text, sizeof g_text));
  char table[128];
  Copy(table, sizeof table, g_text);
  for (char* p = table; *p != '\0'; ++p) {
    if (*p == '\n') *p = '\0';
  }
  SayText("GetUserFieldsByTable 1",
          q.GetUserFieldsByTable(1, table, g_text, sizeof g_text));

  SayNumber("GetItemSearchElementsCount 1", q.GetItemSearchElementsCount(1));
  _tagITEMSEARCHINFO items[5];
  memset(items, 0, sizeof items);
  SayNumber("GetItemSearchElement 1", q.GetItemSearchElement(1, items, 5));
  for (int i = 0; i < 3; ++i) SayItem("item", items[i]);
  _tagITEMSEARCHINFO one;
  memset(&one, 0, sizeof one);
  SayNumber("GetItemSearchElementByIndex 1 2",
            q.GetItemSearchElementByIndex(1, 2, &one));
  Copy(one.szName, sizeof one.szName, "Voided");
  Copy(one.szKeyword, sizeof one.szKeyword, "VOID");
  one.szNoKeyword[0] = '\0';
  SayNumber("AddItemSearchElement", q.AddItemSearchElement(1, &one));
  one.nPreItemId = 3;
  SayNumber("SetItemSearchElementByIndex 3",
            q.SetItemSearchElementByIndex(1, 3, &one));
  memset(&one, 0, sizeof one);
  q.GetItemSearchElementByIndex(1, 3, &one);
  SayItem("item 3", one);
  SayNumber("DeleteItemSearchElementByIndex 3",
            q.DeleteItemSearchElementByIndex(1, 3));
  SayNumber("SetItemSearchElement", q.SetItemSearchElement(1, items, 3));
  SayNumber("GetItemSearchElementsCount 1", q.GetItemSearchElementsCount(1));

  _tagSEARCHPARAM params[2];
  memset(params, 0, sizeof params);
  params[0].nItemIndex = 0;
  Copy(params[0].szValue1, sizeof params[0].szValue1, "10");
  params[0].byCompare1 = 2;
  params[1].nItemIndex = 2;
  SayText("GetSelectQueryByItemIndex",
          q.GetSelectQueryByItemIndex(1, "2024-05-01", "2024-05-02", params, 2,
                                      0, g_text, sizeof g_text));
  SayNumber("IsValidSearchRecord, CARD",
            q.IsValidSearchRecord("TOTAL 12.50 CARD", params + 1, 1, 0));
  SayNumber("IsValidSearchRecord, CARD VOID",
            q.IsValidSearchRecord("TOTAL 12.50 CARD VOID", params + 1, 1, 0));
}

// Setters, files and the stylesheet; the current directory is the
// program's folder from the first call on.
void ChangeThings(CQuillmoreExt& q) {
  q.SetUseDatabase(1, 1, 1, "jet/", nullptr, nullptr, nullptr);
  SayText("GetConnectionString, set", q.GetConnectionString(g_text, 512));
  MakeFolder("jet");
  PutFile("DV/textdb.tmp", "empty jet database");
  SayNumber("CreateDatabase 1", q.CreateDatabase(1, 0, "Replace?"));
  Check(GetFile("jet/textdb1.mdb") > 0 &&
            strcmp(g_text, "empty jet database") == 0,
        "the template is copied into place, relative to the program's "
        "folder");
  q.SetUseDatabase(2, 1, 4, "db.example", "till", "rec", "pw");
  SayNumber("GetDatabaseTypeEx 2, set", q.GetDatabaseTypeEx(2));

  PutFile("DV/strip.xsl",
          "<xsl:stylesheet version='1.0' "
          "xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
          "<xsl:template match='/'><r><Total><xsl:value-of select='//t'/>"
          "</Total><Item name='a' price='1'/></r></xsl:template>"
          "</xsl:stylesheet>");
  q.SetXmlParserFile(1, "DV/strip.xsl");
  SayNumber("GetUseXmlParser 1", q.GetUseXmlParser(1));
  Clear();
  SayNumber("GetXmlParserFile 1", q.GetXmlParserFile(1, g_text, 64));
  Say("GetXmlParserFile 1", g_text);
  SayNumber("ValidateXslt", q.ValidateXslt("DV/strip.xsl"));
  SayText("GetUserInsertQuery", q.GetUserInsertQuery(7, "<in><t>12.50</t></in>",
                                                     g_text, sizeof g_text));
  _tagUSERTABLEINFO total;
  memset(&total, 0, sizeof total);
  Copy(total.szElement, sizeof total.szElement, "Total");
  total.dwFieldLen = 20;
  SayNumber("SetUserTableElements 4", q.SetUserTableElements(4, &total, 1));
  SayText("GetUserCreateQueryEx 4",
          q.GetUserCreateQueryEx(4, g_text, sizeof g_text));
  q.UnloadData();
  SayNumber("GetUseDatabase, unloaded", q.GetUseDatabase());
}

// Stylesheets in encodings that libxml2 knows without iconv load everywhere;
// on Windows, where it has no iconv, others don't.
void CheckEncodings(CQuillmoreExt& q) {
  const char* xsl =
      "<xsl:stylesheet version='1.0' "
      "xmlns:xsl='http://www.w3.org/1999/XSL/Transform'/>";
  char text[256];
  Copy(text, sizeof text, "<?xml version='1.0' encoding='ISO-8859-1'?>");
  Copy(text + strlen(text), sizeof text - strlen(text), xsl);
  PutFile("DV/latin1.xsl", text);
  Copy(text, sizeof text, "<?xml version='1.0' encoding='windows-1252'?>");
  Copy(text + strlen(text), sizeof text - strlen(text), xsl);
  PutFile("DV/cp1252.xsl", text);
  SayNumber("ValidateXslt ISO-8859-1", q.ValidateXslt("DV/latin1.xsl"));
#if defined(_WIN32)
  Check(q.ValidateXslt("DV/cp1252.xsl") == 0,
        "a windows-1252 stylesheet does not load (no iconv)");
#else
  Check(q.ValidateXslt("DV/cp1252.xsl") == 1,
        "a windows-1252 stylesheet loads (iconv)");
#endif
}

// Windows' facts: the serial of C:\ in table names, CR LF in new files.
void CheckSystem(CQuillmoreExt& q) {
  SayNumber("LoadData 9, no file", q.LoadData(9));
  q.SetXmlParserFile(9, "none.xsl");
  const size_t n = GetFile("DV/devdata9.ini");
#if defined(_WIN32)
  Check(n > 0 && strstr(g_text, "USEPARSER=1\r\n") != nullptr,
        "a new file's lines end in CR LF");
  unsigned long serial = 0;
  GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr,
                        0);
  char want[16];
  const char* hex = "0123456789ABCDEF";
  int k = 0;
  for (int shift = 28; shift >= 0; shift -= 4) {
    const unsigned digit = (serial >> shift) & 15;
    if (digit != 0 || k > 0 || shift == 0) want[k++] = hex[digit];
  }
  want[k] = '\0';
  Check(strcmp(want, g_serial) == 0, "table names carry the serial of C:\\");
#else
  Check(n > 0 && strstr(g_text, "USEPARSER=1\n") != nullptr &&
            strstr(g_text, "\r") == nullptr,
        "a new file's lines end in LF");
#endif
}

#if defined(_MSC_VER)
// msvcrt.dll's heap walk, over the heap that the host and the library
// allocate from: the bytes in use.
struct HeapEntry {
  int* entry;
  size_t size;
  int use;
};
extern "C" int _heapwalk(HeapEntry* entry);
size_t HeapInUse() {
  HeapEntry e = {nullptr, 0, 0};
  size_t used = 0;
  while (_heapwalk(&e) == -2) {      // _HEAPOK
    if (e.use == 1) used += e.size;  // _USEDENTRY
  }
  return used;
}
bool HeapIsWhole() { return _heapchk() == -2; }  // _HEAPOK
#else
size_t HeapInUse() { return 0; }
bool HeapIsWhole() { return true; }
#endif

// `delete` and `delete[]` as Microsoft-built code does them: slot 0 of the
// vftable, the vector deleting destructor, with flags 1, or 3 for an array
// (destroy the count of elements stored before it and free the block from
// there). It returns the block it freed.
bool DeleteAsMicrosoft() {
  CQuillmoreExt* one = new CQuillmoreExt;
  CQuillmoreExt* array = new CQuillmoreExt[3];
  for (int i = 0; i < 3; ++i) array[i].LoadData(i + 1);
  one->LoadData(1);
#if defined(_MSC_VER)
#if defined(_M_IX86)
  typedef void*(__thiscall * Deleter)(CQuillmoreExt*, unsigned);
#else
  typedef void* (*Deleter)(CQuillmoreExt*, unsigned);
#endif
  void* block = reinterpret_cast<size_t*>(array) - 1;
  return (**reinterpret_cast<Deleter**>(one))(one, 1) == one &&
         (**reinterpret_cast<Deleter**>(array))(array, 3) == block;
#else
  delete one;
  delete[] array;
  return true;
#endif
}

int Run() {
  CQuillmoreExt* heap = new CQuillmoreExt;
  heap->GetTableNameEx(1, g_text, sizeof g_text);
  const char* last = g_text;
  for (const char* p = g_text; *p != '\0'; ++p) {
    if (*p == '_') last = p + 1;
  }
  Copy(g_serial, sizeof g_serial, last);
  AskEverything(*heap);
  Check(GetFile("DV/devdata1.ini") > 0,
        "the program's folder is the current directory after a call");

  CQuillmoreExt copy(*heap);  // on the stack, with heap's loaded device
  SayNumber("copy: GetDatabaseType", copy.GetDatabaseType());
  SayNumber("copy: GetItemSearchElementsCount 1",
            copy.GetItemSearchElementsCount(1));
  ChangeThings(*heap);
  SayNumber("copy, after the original unloaded: GetDatabaseType",
            copy.GetDatabaseType());
  CQuillmoreExt assigned;
  assigned = copy;
  copy.UnloadData();
  SayNumber("assigned: GetDatabaseType", assigned.GetDatabaseType());
  CQuillmoreExt fresh;  // reads what the first object wrote
  SayNumber("fresh: GetUseXmlParser 1", fresh.GetUseXmlParser(1));
  SayNumber("fresh: GetDatabaseTypeEx 2", fresh.GetDatabaseTypeEx(2));
  CheckEncodings(fresh);
  CheckSystem(fresh);
  delete heap;

  CQuillmoreExt* array = new CQuillmoreExt[3];
  for (int i = 0; i < 3; ++i) array[i].LoadData(i + 1);
  SayNumber("array[2]: GetDatabaseType", array[2].GetDatabaseType());
  delete[] array;       // as this compiler does it
  DeleteAsMicrosoft();  // once for what a first use keeps
  const size_t before = HeapInUse();
  Check(DeleteAsMicrosoft() && HeapInUse() == before && HeapIsWhole(),
        "delete and delete[] through the vftable free what they must");
  printf("%d failed\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

#if defined(_MSC_VER)
extern "C" void HostStart() {
  const int status = Run();
  fflush(nullptr);
  exit(status);
}
#else
int main() { return Run(); }
#endif
