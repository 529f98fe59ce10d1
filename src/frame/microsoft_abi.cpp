// What quillmore.dll adds for hosts built with Microsoft's compiler, beside
// the class GCC exports for MinGW hosts. Microsoft's ABI calls a member
// function as GCC does on Windows (`this` first; on x86 both use __thiscall),
// so cmake/quillmore-msvc-<arch>.def exports the GCC-built methods again
// under Microsoft's decorated names. What differs is here:
// - constructors return `this`;
// - an object made by a Microsoft host points at Microsoft's vftable, whose
//   one slot is the vector deleting destructor (GCC's table starts with two
//   destructors and sits behind two more words);
// - memory that `delete` and `delete[]` give back is freed with msvcrt.dll's
//   `free`, the runtime that the hosts share with the library.
// Objects never change ABI: each host's objects are made, used and destroyed
// through its own compiler's names.
#include <cstddef>
#include <cstdlib>
#include <new>

#include "quillmore/QuillmoreExt.h"

#if defined(__i386__)
#define QUILLMORE_MEMBER __attribute__((thiscall))
#else
#define QUILLMORE_MEMBER
#endif

namespace {

using Ext = CQuillmoreExt;

// Microsoft's `virtual void* __vecDelDtor(unsigned flags)`: bit 0 frees the
// memory, bit 1 destroys an array made by `new[]`, whose element count sits
// in the size_t before it, and frees the block from there. Returns what it
// freed (or would free).
void* QUILLMORE_MEMBER VectorDeletingDestructor(Ext* self, unsigned flags) {
  void* block = self;
  if ((flags & 2) != 0) {
    std::size_t* count = reinterpret_cast<std::size_t*>(self) - 1;
    for (std::size_t i = *count; i > 0; --i) self[i - 1].Ext::~Ext();
    block = count;
  } else {
    self->Ext::~Ext();
  }
  if ((flags & 1) != 0) std::free(block);
  return block;
}

void UseMicrosoftTable(Ext* self);

}  // namespace

extern "C" {

// Exported as ??_7CQuillmoreExt@@6B@ (data). Without RTTI, so no object
// locator before it, as Microsoft's compiler lays it out under /GR-.
extern void* const quillmore_ms_vftable[1];
void* const quillmore_ms_vftable[1] = {
    reinterpret_cast<void*>(&VectorDeletingDestructor)};

Ext* QUILLMORE_MEMBER quillmore_ms_construct(Ext* self) {
  new (self) Ext();
  UseMicrosoftTable(self);
  return self;
}

Ext* QUILLMORE_MEMBER quillmore_ms_copy_construct(Ext* self, const Ext* other) {
  new (self) Ext(*other);
  UseMicrosoftTable(self);
  return self;
}

}  // extern "C"

namespace {

// Both ABIs keep the table pointer in the object's first word.
void UseMicrosoftTable(Ext* self) {
  *reinterpret_cast<void* const**>(self) = quillmore_ms_vftable;
}

}  // namespace
