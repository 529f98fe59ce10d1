// The layouts that cross quillmore.dll's boundary, checked as each compiler
// builds: GCC (Linux, MinGW x64 and x86, which build the library) and clang
// for Microsoft's ABI (x64 and x86, as the hosts it is made for see them).
// Both ABIs must agree on every offset and size; only pointers differ
// between the architectures.
#include <stddef.h>

#include "quillmore/QuillmoreExt.h"

namespace {

constexpr size_t P = sizeof(void*);  // 8 on x64, 4 on x86
static_assert(P == 8 || P == 4, "a 64-bit or 32-bit target");

#define QM_AT(type, field, offset) \
  static_assert(offsetof(type, field) == (offset), #type "." #field)

QM_AT(_tagUSERTABLEINFO, dwChildLen, 0);
QM_AT(_tagUSERTABLEINFO, szElement, 4);
QM_AT(_tagUSERTABLEINFO, byFieldType, 54);
QM_AT(_tagUSERTABLEINFO, dwFieldLen, 56);
QM_AT(_tagUSERTABLEINFO, pChild, P == 8 ? 64 : 60);
static_assert(sizeof(_tagUSERTABLEINFO) == (P == 8 ? 72 : 64), "");

QM_AT(_tagITEMSEARCHINFO, szName, 0);
QM_AT(_tagITEMSEARCHINFO, byType, 50);
QM_AT(_tagITEMSEARCHINFO, szElement, 51);
QM_AT(_tagITEMSEARCHINFO, szAttribute, 101);
QM_AT(_tagITEMSEARCHINFO, byCompareType, 151);
QM_AT(_tagITEMSEARCHINFO, szTable, 152);
QM_AT(_tagITEMSEARCHINFO, szField, 212);
QM_AT(_tagITEMSEARCHINFO, nSplit, 272);
QM_AT(_tagITEMSEARCHINFO, szKeyword, 274);
QM_AT(_tagITEMSEARCHINFO, szNoKeyword, 324);
QM_AT(_tagITEMSEARCHINFO, szDefinedValue, 374);
QM_AT(_tagITEMSEARCHINFO, dwFindNumber, 424);
QM_AT(_tagITEMSEARCHINFO, nFindType, 428);
QM_AT(_tagITEMSEARCHINFO, nPreItemId, 430);
static_assert(sizeof(_tagITEMSEARCHINFO) == 432, "");

QM_AT(_tagSEARCHPARAM, nItemIndex, 0);
QM_AT(_tagSEARCHPARAM, szValue1, 4);
QM_AT(_tagSEARCHPARAM, byCompare1, 54);
QM_AT(_tagSEARCHPARAM, szValue2, 55);
QM_AT(_tagSEARCHPARAM, byCompare2, 105);
static_assert(sizeof(_tagSEARCHPARAM) == 108, "");

// The class: the table pointer, then `impl`.
static_assert(sizeof(CQuillmoreExt) == 2 * P, "");
static_assert(alignof(CQuillmoreExt) == P, "");
// The method table's unsigned types are 32 bits wide in both spellings.
static_assert(sizeof(QUILLMORE_ULONG) == 4 && sizeof(QUILLMORE_UINT) == 4, "");

}  // namespace
