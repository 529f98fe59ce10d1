// A ten-line host built against the installed tree.
#include <quillmore/QuillmoreExt.h>

#include <cstdio>
#include <cstring>

int main() {
  CQuillmoreExt q;
  char name[64];
  std::memset(name, 0, sizeof name);
  if (q.GetUseDatabase() != -1) return 1;
  uint32_t n = q.GetTableNameEx(5, name, sizeof name);
  if (n == 0 || std::strncmp(name, "TBL_TEXTDATAEX5_", 16) != 0) return 1;
  std::printf("%s\n", name);
  return 0;
}
