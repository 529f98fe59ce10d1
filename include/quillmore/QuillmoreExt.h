// Quillmore: the SQL and configuration side of a multi-camera recorder's
// text database. This header is the library's whole interface; it is plain
// C++11.
//
// Results. Text is copied with its terminating zero into the caller's buffer
// only when `size` is greater than the text's length; the result is then the
// length without the terminator. A result of 0 means nothing was produced
// and, unless a method says otherwise, the buffer is left exactly as it was.
// Nothing is ever written past `size` bytes. `GetUseDatabase` and
// `GetDatabaseType` give -1 when no device is loaded; other `int` results are
// 1 for success and 0 for failure unless a method says otherwise. No
// exception leaves a method: when memory runs out a method gives its
// failure result (LoadData then leaves nothing loaded; a failed copy leaves
// an empty object).
//
// Threads. One CQuillmoreExt must not be used by two threads at once.
// Separate objects share nothing in memory; they share the configuration
// files, whose every write is atomic and serialised across threads and
// processes. Every call that locates a configuration file, template or
// script sets the process's current directory to the executable's folder.
//
// Files. A device's configuration lives in DV/devdata<N>.ini beside the
// host's executable; templates and SQL scripts lie in the same DV folder.
#ifndef QUILLMORE_QUILLMOREEXT_H_
#define QUILLMORE_QUILLMOREEXT_H_

#include <stdint.h>

// The method table's unsigned 32-bit types. Microsoft's class ABI encodes a
// parameter's declared type in the method's decorated name (`unsigned long`
// is K, `unsigned int` I), so where the header is compiled for that ABI
// (_MSC_VER: Microsoft's compiler, or clang for a *-windows-msvc target) it
// spells them as quillmore.dll's Microsoft names have them: `unsigned long`
// for sizes, counts and lengths, `unsigned int` for indexes. Elsewhere both
// are uint32_t, whose names libquillmore.so and the MinGW import library
// carry. Either way they are 32 bits wide.
#if defined(_MSC_VER)
#define QUILLMORE_ULONG unsigned long
#define QUILLMORE_UINT unsigned int
#else
#define QUILLMORE_ULONG uint32_t
#define QUILLMORE_UINT uint32_t
#endif

// On Windows the class is exported from quillmore.dll; the library's own
// sources are compiled with QUILLMORE_BUILDING, hosts import it.
#if defined(_WIN32) && defined(QUILLMORE_BUILDING)
#define QUILLMORE_API __declspec(dllexport)
#elif defined(_WIN32)
#define QUILLMORE_API __declspec(dllimport)
#else
#define QUILLMORE_API __attribute__((visibility("default")))
#endif

namespace quillmore {
class DataStore;
}

// One user-table definition: a column of the device's main user table
// (dwChildLen 0) or a group element whose children are its group table's
// columns (attribute names of the element's occurrences).
struct _tagUSERTABLEINFO {
  uint32_t dwChildLen;  // read from a file: 0 to 255
  char szElement[50];
  uint8_t byFieldType;  // stored and returned unchanged
  int32_t dwFieldLen;   // the N of the column's varchar(N)
  _tagUSERTABLEINFO* pChild;
};

// One item-search definition. byType 0: a value in the record's XML form;
// 1: a column of a user table; 2 (and above): a keyword in the record's text.
struct _tagITEMSEARCHINFO {
  char szName[50];
  uint8_t byType;
  char szElement[50];     // kind 0
  char szAttribute[50];   // kind 0; empty means the element's text
  uint8_t byCompareType;  // kind 0; stored and returned unchanged
  char szTable[60];       // kind 1
  char szField[60];       // kind 1
  int16_t nSplit;         // kind 2; -1 when the file holds none
  char szKeyword[50];     // kind 2
  char szNoKeyword[50];   // kind 2
  char szDefinedValue[50];
  int32_t dwFindNumber;
  int16_t nFindType;
  int16_t nPreItemId;  // 1-based number of an item applied first; <= 0 none
};

// One search parameter. nItemIndex < 0 asks for a free-text search.
// Comparison codes: 0 "=", 1 ">", 2 ">=", 3 "<", 4 "<=".
struct _tagSEARCHPARAM {
  int32_t nItemIndex;
  char szValue1[50];
  uint8_t byCompare1;
  char szValue2[50];
  uint8_t byCompare2;
};

class QUILLMORE_API CQuillmoreExt {
 public:
  CQuillmoreExt();
  // Copying copies the loaded state as it is in memory (loaded device,
  // settings and definitions, including changes not yet reloaded from the
  // file). A cached stylesheet is not shared: each copy loads its own on
  // first use. Each object owns its state; none is freed twice.
  CQuillmoreExt(const CQuillmoreExt& other);
  CQuillmoreExt& operator=(const CQuillmoreExt& other);
  virtual ~CQuillmoreExt();

  // Configuration loading.
  int LoadData(int device);
  void UnloadData();

  // Database settings.
  int GetUseDatabase();
  int GetDatabaseType();
  int GetDatabaseTypeEx(int device);
  QUILLMORE_ULONG GetDatabaseName(char* buffer, QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetDatabaseUser(char* buffer, QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetDatabasePassword(char* buffer, QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetDatabaseServer(char* buffer, QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetDatabasePath(char* buffer, QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetDatabasePathEx(int device, char* buffer,
                                    QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetConnectionString(char* buffer, QUILLMORE_ULONG size);
  void SetUseDatabase(int device, int useDatabase, int databaseType,
                      const char* pathOrServer, const char* databaseName,
                      const char* user, const char* password);
  // Copies the Jet template into place. With askBeforeReplacing, an existing
  // file is replaced only when the user answers yes on the controlling
  // terminal; without a terminal the answer is no.
  int CreateDatabase(int device, int askBeforeReplacing, const char* question);

  // XML parser settings.
  int GetUseXmlParser(int device);
  // Result on success: 1 for the loaded device, the number of characters
  // copied for another device (whose value is cut to size - 1).
  int GetXmlParserFile(int device, char* buffer, QUILLMORE_ULONG size);
  void SetXmlParserFile(int device, const char* xsltFile);

  // Text table.
  QUILLMORE_ULONG GetCreateQuery(int databaseType, char* buffer,
                                 QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetDropQuery(int databaseType, char* buffer,
                               QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetTableName(char* buffer, QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetTableNameEx(int device, char* buffer,
                                 QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetCreateDatabaseQuery(int databaseType,
                                         const char* databaseName, char* buffer,
                                         QUILLMORE_ULONG size);

  // Text record queries. GetInsertQueryEx writes no terminator: a size
  // equal to the statement's length is enough.
  QUILLMORE_ULONG GetInsertQueryEx(int camera, const char* date,
                                   const char* systemTime, const char* text,
                                   const char* xml, const char* savePath,
                                   QUILLMORE_ULONG savePosition, char* buffer,
                                   QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetDeleteQueryByID(int recordNumber, char* buffer,
                                     QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetDeleteQueryByDate(const char* date, char* buffer,
                                       QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetSelectQueryByDateTime(const char* from, const char* to,
                                           char* buffer, QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetSelectTemplateQuery(char* buffer, QUILLMORE_ULONG size);

  // User-table definitions. Child arrays handed out by
  // GetUserTableElements are given back with FreeUserTableElements.
  int GetUseUserTable(int device);
  QUILLMORE_ULONG GetUserTableElementsCount(int device);
  QUILLMORE_ULONG GetUserTableElements(int device, _tagUSERTABLEINFO* elements,
                                       QUILLMORE_ULONG capacity);
  int SetUserTableElements(int device, _tagUSERTABLEINFO* elements,
                           QUILLMORE_ULONG count);
  int FreeUserTableElements(_tagUSERTABLEINFO* elements, QUILLMORE_ULONG count);

  // User-table names and DDL.
  QUILLMORE_ULONG GetUserCreateQueryEx(int device, char* buffer,
                                       QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetUserCreateQueryTest(int device,
                                         _tagUSERTABLEINFO* elements,
                                         QUILLMORE_ULONG count, char* buffer,
                                         QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetUserDropQueryEx(int device, char* buffer,
                                     QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetUserTableNames(int device, char* buffer,
                                    QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetUserFieldsByTable(int device, const char* tableName,
                                       char* buffer, QUILLMORE_ULONG size);
  QUILLMORE_ULONG GetUserTableNamesByElements(int device, char* buffer,
                                              QUILLMORE_ULONG size,
                                              _tagUSERTABLEINFO* elements,
                                              QUILLMORE_ULONG count);
  QUILLMORE_ULONG GetUserDropQueryByElements(int device, char* buffer,
                                             QUILLMORE_ULONG size,
                                             _tagUSERTABLEINFO* elements,
                                             QUILLMORE_ULONG count);

  // XML record to user-table INSERTs. Values taken from the XML have any
  // single quote doubled (and, for MySQL, any backslash), so no value can
  // end its literal. The size is taken as a signed 32-bit number.
  QUILLMORE_ULONG GetUserInsertQuery(int recordId, const char* xmlText,
                                     char* buffer, QUILLMORE_ULONG size);
  int ValidateXslt(const char* filePath);

  // Item-search definitions.
  QUILLMORE_ULONG GetItemSearchElementsCount(int device);
  int GetItemSearchElementByIndex(int device, QUILLMORE_UINT index,
                                  _tagITEMSEARCHINFO* element);
  int SetItemSearchElementByIndex(int device, QUILLMORE_UINT index,
                                  _tagITEMSEARCHINFO* element);
  int GetItemSearchElement(int device, _tagITEMSEARCHINFO* elements,
                           QUILLMORE_ULONG capacity);
  int SetItemSearchElement(int device, _tagITEMSEARCHINFO* elements,
                           QUILLMORE_ULONG count);
  int DeleteItemSearchElementByIndex(int device, QUILLMORE_UINT index);
  int AddItemSearchElement(int device, _tagITEMSEARCHINFO* element);

  // Search.
  QUILLMORE_ULONG GetSelectQueryByItemIndex(int camera, const char* from,
                                            const char* to,
                                            _tagSEARCHPARAM* params,
                                            QUILLMORE_ULONG count, int joinMode,
                                            char* buffer, QUILLMORE_ULONG size);
  int IsValidSearchRecord(const char* record, _tagSEARCHPARAM* params,
                          QUILLMORE_ULONG count, int joinMode);

 private:
  quillmore::DataStore* Store();

  quillmore::DataStore* impl;
};

#endif  // QUILLMORE_QUILLMOREEXT_H_
