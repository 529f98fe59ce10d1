// Item-search definitions, the search SELECT and the record matcher through
// the public facade, against a temporary installation: what the pure
// functions' tests can't see (cache versus file, the keys in the file,
// checks of the host's pointers and sizes).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "quillmore/QuillmoreExt.h"
#include "search/test_records.h"
#include "testing/copy_out_check.h"
#include "testing/pages.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

using testing::Def;
using testing::Param;
using testing::Put;

// A page the process can't read, like a host's bad pointer.
void* const kBad = testing::UnreadablePage();
auto* const bad_item = static_cast<_tagITEMSEARCHINFO*>(kBad);
auto* const bad_param = static_cast<_tagSEARCHPARAM*>(kBad);

// The keys every kind writes last.
const std::string kTail = "DEFINEDVALUE=\nPREITEMID=0\nFINDNUMBER=0\n";

// A file the library made, with LF line ends (on Windows it makes CR LF).
std::string Lf(std::string s) {
  std::erase(s, '\r');
  return s;
}

TEST(ItemSearchTest, FileOfADeviceThatIsNotLoaded) {
  TestInstallation inst;
  CQuillmoreExt q;
  _tagITEMSEARCHINFO out[4];
  EXPECT_EQ(q.SetItemSearchElement(5, nullptr, 0), 0);
  EXPECT_FALSE(inst.Exists("devdata5.ini"));

  // The kind's keys only, FINDTYPE only with a FINDNUMBER; a name without
  // terminator is written whole; names the kind doesn't use aren't checked.
  _tagITEMSEARCHINFO items[] = {Def(2, "kw"), Def(0, "el"), Def(3, "kw")};
  Put(items[0].szTable, "a b");
  Put(items[0].szName, std::string(50, 'n'));
  Put(items[1].szName, "b");
  Put(items[2].szName, "c");
  items[0].nSplit = 3;
  items[1].nFindType = 7;
  ASSERT_EQ(q.SetItemSearchElement(5, items, 3), 1);
  EXPECT_EQ(
      Lf(inst.Read("devdata5.ini")),
      "[ITEMSEARCH]\nLEN=3\nS1=" + std::string(50, 'n') +
          "\nS2=b\nS3=c\n[S1]\nTYPE=2\nSPLIT=3\nKEYWORD=kw\nNOKEYWORD=\n" +
          kTail + "[S2]\nTYPE=0\nELEMENT=el\nATTRIBUTE=\nCOMPARETYPE=0\n" +
          kTail + "[S3]\nTYPE=3\nSPLIT=-1\nKEYWORD=kw\nNOKEYWORD=\n" + kTail);
  EXPECT_EQ(q.GetItemSearchElementsCount(5), 3u);
  // Capacity one short: untouched; larger: the rest cleared.
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(q.GetItemSearchElement(5, out, 2), 0);
  EXPECT_EQ(out[0].szName[0], '#');
  ASSERT_EQ(q.GetItemSearchElement(5, out, 4), 1);
  EXPECT_EQ(std::string(out[0].szName), std::string(49, 'n'));
  EXPECT_EQ(std::string(out[2].szKeyword) + std::to_string(out[2].byType),
            "kw3");
  const _tagITEMSEARCHINFO zero{};
  EXPECT_EQ(std::memcmp(&out[3], &zero, sizeof zero), 0);

  // The items after a deleted one move forward; the last section stays,
  // and keys of the old kind stay in the file, unread.
  ASSERT_EQ(q.DeleteItemSearchElementByIndex(5, 0), 1);
  std::string file = Lf(inst.Read("devdata5.ini"));
  EXPECT_EQ(file.substr(0, file.find("[S1]\nTYPE=0\nSPLIT=3\nKEYWORD=kw\n")),
            "[ITEMSEARCH]\nLEN=2\nS1=b\nS2=c\nS3=c\n");
  ASSERT_EQ(q.GetItemSearchElementByIndex(5, 0, out), 1);
  EXPECT_EQ(std::to_string(out[0].nSplit) + out[0].szElement + out[0].szKeyword,
            "0el");
  // Deleting the last item changes LEN only; adding writes over S2.
  file.replace(file.find("LEN=2"), 5, "LEN=1");
  ASSERT_EQ(q.DeleteItemSearchElementByIndex(5, 1), 1);
  EXPECT_EQ(Lf(inst.Read("devdata5.ini")), file);
  _tagITEMSEARCHINFO d = Def(1, "", "f");
  Put(d.szTable, std::string(60, 't'));
  ASSERT_EQ(q.AddItemSearchElement(5, &d), 1);
  ASSERT_EQ(q.GetItemSearchElementByIndex(5, 1, out), 1);
  EXPECT_EQ(std::string(out[0].szTable), std::string(59, 't'));

  // Refused, the file untouched: kinds above 2, names the kind puts into
  // SQL that are no plain identifiers (or empty, for kind 1), indexes from
  // the count up, pointers that fail the read-access test.
  file = inst.Read("devdata5.ini");
  _tagITEMSEARCHINFO bad[] = {
      d,           Def(0, "a/b"), Def(0, "e", "x:y"), Def(1, "T;", "f"),
      Def(1, "T"), Def(3)};
  for (_tagITEMSEARCHINFO* p :
       {&bad[1], &bad[2], &bad[3], &bad[4], &bad[5], bad_item}) {
    EXPECT_EQ(q.SetItemSearchElementByIndex(5, 0, p), 0);
    EXPECT_EQ(q.AddItemSearchElement(5, p), 0);
  }
  EXPECT_EQ(q.SetItemSearchElement(5, bad, 2), 0);
  for (std::uint32_t index : {2u, 0xFFFFFFFFu}) {
    EXPECT_EQ(q.SetItemSearchElementByIndex(5, index, &d), 0);
    EXPECT_EQ(q.GetItemSearchElementByIndex(5, index, out), 0);
    EXPECT_EQ(q.DeleteItemSearchElementByIndex(5, index), 0);
  }
  EXPECT_EQ(q.GetItemSearchElementByIndex(5, 0, bad_item), 0);
  EXPECT_EQ(q.SetItemSearchElement(5, bad_item, 1), 0);
  EXPECT_EQ(inst.Read("devdata5.ini"), file);
}

TEST(ItemSearchTest, LoadedDeviceChangesTheCacheFirst) {
  TestInstallation inst;
  // SPLIT 65535 and a missing SPLIT read as -1, FINDTYPE keeps 16 bits.
  inst.Write("devdata2.ini",
             "[GENERAL]\nDBTYPE=1\n[ITEMSEARCH]\nLEN=2\n[S1]\nTYPE=2\n"
             "SPLIT=65535\n[S2]\nTYPE=2\nFINDTYPE=65534\n");
  CQuillmoreExt q, file;
  _tagITEMSEARCHINFO out[4];
  ASSERT_EQ(file.GetItemSearchElement(2, out, 2), 1);
  EXPECT_EQ(out[0].nSplit, -1);
  EXPECT_EQ(out[1].nSplit, -1);
  EXPECT_EQ(out[1].nFindType, -2);

  // Without a FINDNUMBER the file keeps its FINDTYPE, while the cache holds
  // the item as passed; the loaded device leaves the array's tail alone.
  ASSERT_EQ(q.LoadData(2), 1);
  _tagITEMSEARCHINFO a = Def(2, "kw"), b = Def(1, "USR_T", "f");
  a.nFindType = 5;
  ASSERT_EQ(q.SetItemSearchElementByIndex(2, 1, &a), 1);
  ASSERT_EQ(q.AddItemSearchElement(2, &b), 1);
  const std::string after = inst.Read("devdata2.ini");
  EXPECT_EQ(after.substr(after.find("[S3]")),
            "[S3]\nTYPE=1\nTABLE=USR_T\nFIELD=f\n" + kTail);
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(q.GetItemSearchElement(2, out, 2), 0);
  ASSERT_EQ(q.GetItemSearchElement(2, out, 3), 1);
  EXPECT_EQ(std::memcmp(&out[1], &a, sizeof a), 0);
  EXPECT_EQ(std::memcmp(&out[2], &b, sizeof b), 0);
  EXPECT_EQ(out[3].szName[0], '#');
  ASSERT_EQ(file.GetItemSearchElementByIndex(2, 1, out), 1);
  EXPECT_EQ(out[0].nFindType, -2);

  // The file's list shrank behind the cache: the cache changes, result 0.
  inst.Write("devdata2.ini", "[GENERAL]\nDBTYPE=1\n");
  EXPECT_EQ(q.SetItemSearchElementByIndex(2, 1, &b), 0);
  EXPECT_EQ(q.DeleteItemSearchElementByIndex(2, 2), 0);
  EXPECT_EQ(q.GetItemSearchElementsCount(2), 2u);
  ASSERT_EQ(q.GetItemSearchElementByIndex(2, 1, out), 1);
  EXPECT_EQ(std::memcmp(out, &b, sizeof b), 0);
  ASSERT_EQ(q.SetItemSearchElement(2, &a, 0), 1);
  EXPECT_EQ(q.GetItemSearchElementByIndex(2, 0, out), 0);
}

TEST(ItemSearchTest, SearchSelectAndRecordMatcher) {
  TestInstallation inst;
  inst.Write("devdata3.ini",
             "[GENERAL]\nDBTYPE=1\n[ITEMSEARCH]\nLEN=2\n[S1]\nTYPE=1\n"
             "TABLE=USR_T\nFIELD=f_total\nFINDNUMBER=1\n"
             "[S2]\nTYPE=2\nKEYWORD=card\nSPLIT=1\n");
  CQuillmoreExt q;
  char buf[400];
  _tagSEARCHPARAM p = Param(0, "12.5", 2), card = Param(1);
  EXPECT_EQ(q.GetSelectQueryByItemIndex(3, "a", "b", &p, 1, 0, buf, 400), 0u);
  EXPECT_EQ(q.IsValidSearchRecord("x", nullptr, 0, 0), 0);
  ASSERT_EQ(q.LoadData(2) + q.LoadData(3), 2);
  // The loaded definitions and database type, the text table's name.
  ExpectCopyOutAtEdges(
      Getter(q, &CQuillmoreExt::GetSelectQueryByItemIndex, 3, "a", "b", &p, 1u,
             0),
      "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, f_savepos, "
      "f_cam, f_text FROM TBL_TEXTDATAEX3_1A2B3C4D m INNER JOIN USR_T ON "
      "m.f_id =  USR_T.f_id  WHERE ((CDBL(USR_T.f_total) >= 12.5)) and "
      "m.f_cam = 3 and (m.f_date between 'a' and 'b') order by m.f_id");
  EXPECT_EQ(q.GetSelectQueryByItemIndex(3, "a", "b", bad_param, 1, 0, buf, 400),
            0u);
  EXPECT_EQ(q.GetSelectQueryByItemIndex(3, nullptr, "b", &p, 1, 0, buf, 400),
            0u);
  // A null array with a count is no parameters.
  EXPECT_EQ(q.GetSelectQueryByItemIndex(3, "a", "b", nullptr, 5, 0, buf, 400),
            q.GetSelectQueryByItemIndex(3, "a", "b", &p, 0, 0, buf, 400));
  EXPECT_EQ(q.IsValidSearchRecord("CARD 12 EUR", &card, 1, 0), 1);
  EXPECT_EQ(q.IsValidSearchRecord(nullptr, nullptr, 0, 0), 0);
  // The INSERT straight into the buffer, from a copy, with the name formed
  // at the last load; a value that lies in the part written.
  std::strcpy(buf + 100, "it's");
  EXPECT_EQ(std::string(buf, CQuillmoreExt(q).GetInsertQueryEx(
                                 -2, "d", "s", buf + 100, "", "/p", 0x80000000u,
                                 buf, 400)),
            "INSERT INTO TBL_TEXTDATAEX3_1A2B3C4D (f_date, f_systime, f_cam, "
            "f_text, f_xml, f_savepath, f_savepos) VALUES ('d', 's', -2, "
            "'it's', '', '/p', -2147483648)");
}

}  // namespace
}  // namespace quillmore
