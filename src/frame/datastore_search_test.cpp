// Item-search definitions, the search SELECT and the record matcher through
// the public facade, against a temporary installation: what the pure
// functions' tests can't see (cache versus file, the keys in the file,
// checks of the host's pointers and sizes).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "quillmore/QuillmoreExt.h"
#include "search/test_records.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

using testing::Param;
using testing::Put;

// Fields of every kind hold text, as a host may leave them; the file gets
// those of the item's kind only.
_tagITEMSEARCHINFO Item(const char* name, std::uint8_t type) {
  _tagITEMSEARCHINFO r = testing::Def(type);
  Put(r.szName, name);
  Put(r.szElement, "el");
  Put(r.szTable, "USR_T");
  Put(r.szKeyword, "kw");
  return r;
}

// Memory that fails the read-access test, like a host's bad pointer.
union {
  _tagITEMSEARCHINFO item;
  _tagSEARCHPARAM param;
} bad{};

struct RefusingPlatform : PlatformWrapper {
  using PlatformWrapper::PlatformWrapper;
  bool IsReadable(const void* p, std::size_t size) override {
    return p != &bad && PlatformWrapper::IsReadable(p, size);
  }
};

class ItemSearchTest : public ::testing::Test {
 protected:
  ItemSearchTest() { SetPlatformForTesting(&platform_); }
  std::string Key(int device, const char* section, const char* key) {
    return inst_.platform().ProfileString(inst_.ConfigPath(device), section,
                                          key, "<none>", 300);
  }
  TestInstallation inst_;
  RefusingPlatform platform_{&inst_.platform()};
};

TEST_F(ItemSearchTest, FileOfADeviceThatIsNotLoaded) {
  CQuillmoreExt q;
  _tagITEMSEARCHINFO out[4];
  EXPECT_EQ(q.GetItemSearchElement(5, out, 4), 0);
  EXPECT_EQ(q.SetItemSearchElement(5, nullptr, 0), 0);
  EXPECT_FALSE(inst_.Exists("devdata5.ini"));

  _tagITEMSEARCHINFO items[] = {Item("", 2), Item("b", 0), Item("c", 3)};
  Put(items[0].szName, std::string(50, 'n'));  // no terminator
  items[0].nSplit = 3;
  ASSERT_EQ(q.SetItemSearchElement(5, items, 3), 1);
  // The kind's keys only, and FINDTYPE only with a FINDNUMBER.
  EXPECT_EQ(Key(5, "S2", "TABLE") + Key(5, "S2", "KEYWORD") +
                Key(5, "S3", "ELEMENT") + Key(5, "S3", "TABLE"),
            "<none><none><none><none>");
  EXPECT_EQ(Key(5, "S2", "FINDTYPE"), "<none>");
  // Capacity one short: untouched; larger: the rest cleared.
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(q.GetItemSearchElement(5, out, 2), 0);
  EXPECT_EQ(out[0].szName[0], '#');
  ASSERT_EQ(q.GetItemSearchElement(5, out, 4), 1);
  EXPECT_EQ(std::string(out[0].szName), std::string(49, 'n'));
  EXPECT_EQ(out[2].byType, 3);  // stored whole with the keyword keys
  EXPECT_STREQ(out[2].szKeyword, "kw");
  const _tagITEMSEARCHINFO zero{};
  EXPECT_EQ(std::memcmp(&out[3], &zero, sizeof zero), 0);

  // The items after a deleted one move forward; the last section stays,
  // and keys of the old kind stay unread.
  ASSERT_EQ(q.DeleteItemSearchElementByIndex(5, 0), 1);
  EXPECT_EQ(Key(5, "ITEMSEARCH", "LEN") + Key(5, "ITEMSEARCH", "S1") +
                Key(5, "ITEMSEARCH", "S2") + Key(5, "ITEMSEARCH", "S3"),
            "2bcc");
  EXPECT_EQ(Key(5, "S1", "SPLIT") + Key(5, "S3", "KEYWORD"), "3kw");
  ASSERT_EQ(q.GetItemSearchElementByIndex(5, 0, out), 1);
  EXPECT_EQ(out[0].nSplit, 0);
  EXPECT_EQ(std::string(out[0].szElement) + out[0].szKeyword + out[0].szTable,
            "el");
  // Deleting the last item changes LEN only; adding writes over S2.
  std::string file = inst_.Read("devdata5.ini");
  file.replace(file.find("LEN=2"), 5, "LEN=1");
  ASSERT_EQ(q.DeleteItemSearchElementByIndex(5, 1), 1);
  EXPECT_EQ(inst_.Read("devdata5.ini"), file);
  _tagITEMSEARCHINFO d = Item("d", 1);
  Put(d.szTable, std::string(60, 't'));
  ASSERT_EQ(q.AddItemSearchElement(5, &d), 1);
  ASSERT_EQ(q.GetItemSearchElementByIndex(5, 1, out), 1);
  EXPECT_EQ(std::string(out[0].szTable), std::string(59, 't'));

  // Refused: kinds above 2, indexes from the count up, bad pointers.
  file = inst_.Read("devdata5.ini");
  d.byType = 3;
  EXPECT_EQ(q.SetItemSearchElementByIndex(5, 0, &d), 0);
  EXPECT_EQ(q.AddItemSearchElement(5, &d), 0);
  d.byType = 2;
  for (std::uint32_t index : {2u, 0xFFFFFFFFu}) {
    EXPECT_EQ(q.SetItemSearchElementByIndex(5, index, &d), 0);
    EXPECT_EQ(q.GetItemSearchElementByIndex(5, index, out), 0);
    EXPECT_EQ(q.DeleteItemSearchElementByIndex(5, index), 0);
  }
  EXPECT_EQ(q.GetItemSearchElementByIndex(5, 0, &bad.item), 0);
  EXPECT_EQ(q.SetItemSearchElementByIndex(5, 0, &bad.item), 0);
  EXPECT_EQ(q.AddItemSearchElement(5, &bad.item), 0);
  EXPECT_EQ(q.SetItemSearchElement(5, &bad.item, 1), 0);
  EXPECT_EQ(inst_.Read("devdata5.ini"), file);
}

TEST_F(ItemSearchTest, LoadedDeviceChangesTheCacheFirst) {
  // SPLIT 65535 and a missing SPLIT read as -1, FINDTYPE keeps 16 bits.
  inst_.Write("devdata2.ini",
              "[GENERAL]\nDBTYPE=1\n[ITEMSEARCH]\nLEN=2\n[S1]\nTYPE=2\n"
              "SPLIT=65535\n[S2]\nTYPE=2\nFINDTYPE=65534\n");
  CQuillmoreExt q, file;
  _tagITEMSEARCHINFO out[4];
  ASSERT_EQ(file.GetItemSearchElement(2, out, 2), 1);
  EXPECT_EQ(out[0].nSplit, -1);
  EXPECT_EQ(out[1].nSplit, -1);
  EXPECT_EQ(out[1].nFindType, -2);

  // Without a FINDNUMBER the file keeps its FINDTYPE; the cache holds the
  // item as passed.
  ASSERT_EQ(q.LoadData(2), 1);
  _tagITEMSEARCHINFO a = Item("a", 2), b = Item("b", 1);
  a.nFindType = 5;
  ASSERT_EQ(q.SetItemSearchElementByIndex(2, 1, &a), 1);
  ASSERT_EQ(q.AddItemSearchElement(2, &b), 1);
  EXPECT_EQ(Key(2, "S3", "ELEMENT") + Key(2, "S3", "KEYWORD"), "<none><none>");
  ASSERT_EQ(q.GetItemSearchElement(2, out, 3), 1);
  EXPECT_EQ(std::memcmp(&out[1], &a, sizeof a), 0);
  EXPECT_EQ(std::memcmp(&out[2], &b, sizeof b), 0);
  ASSERT_EQ(file.GetItemSearchElementByIndex(2, 1, out), 1);
  EXPECT_EQ(out[0].nFindType, -2);

  // The file's list shrank behind the cache: the cache changes, result 0.
  inst_.platform().WriteProfileString(inst_.ConfigPath(2), "ITEMSEARCH", "LEN",
                                      "0");
  EXPECT_EQ(q.SetItemSearchElementByIndex(2, 1, &b), 0);
  EXPECT_EQ(q.DeleteItemSearchElementByIndex(2, 2), 0);
  EXPECT_EQ(q.GetItemSearchElementsCount(2), 2u);
  ASSERT_EQ(q.GetItemSearchElementByIndex(2, 1, out), 1);
  EXPECT_EQ(std::memcmp(out, &b, sizeof b), 0);
  // The loaded device leaves the array's tail as it was.
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(q.GetItemSearchElement(2, out, 1), 0);
  ASSERT_EQ(q.GetItemSearchElement(2, out, 3), 1);
  EXPECT_EQ(out[0].nSplit, -1);
  EXPECT_EQ(out[2].szName[0], '#');
  ASSERT_EQ(q.SetItemSearchElement(2, &a, 0), 1);
  EXPECT_EQ(q.GetItemSearchElementByIndex(2, 0, out), 0);
}

TEST_F(ItemSearchTest, SearchSelectAndRecordMatcher) {
  inst_.Write("devdata3.ini",
              "[GENERAL]\nDBTYPE=1\n[ITEMSEARCH]\nLEN=2\n[S1]\nTYPE=1\n"
              "TABLE=USR_T\nFIELD=f_total\nFINDNUMBER=1\n"
              "[S2]\nTYPE=2\nKEYWORD=card\nSPLIT=1\n");
  CQuillmoreExt q;
  char buf[400];
  _tagSEARCHPARAM p = Param(0, "12.5", 2), card = Param(1);
  EXPECT_EQ(q.GetSelectQueryByItemIndex(3, "a", "b", &p, 1, 0, buf, 400), 0u);
  EXPECT_EQ(q.IsValidSearchRecord("x", nullptr, 0, 0), 0);
  ASSERT_EQ(q.LoadData(3), 1);
  const std::string expected =
      "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, f_savepos, "
      "f_cam, f_text FROM TBL_TEXTDATAEX3_1A2B3C4D m INNER JOIN USR_T ON "
      "m.f_id =  USR_T.f_id  WHERE ((CDBL(USR_T.f_total) >= 12.5)) and "
      "m.f_cam = 3 and (m.f_date between 'a' and 'b') order by m.f_id";
  const auto n = static_cast<std::uint32_t>(expected.size());
  for (std::uint32_t size : {0u, 1u, n - 1, n, n + 1}) {
    SCOPED_TRACE(size);
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(q.GetSelectQueryByItemIndex(3, "a", "b", &p, 1, 0, buf, size),
              size > n ? n : 0u);
    EXPECT_EQ(std::string(buf, n + 2),
              size > n ? expected + '\0' + '#' : std::string(n + 2, '#'));
  }
  EXPECT_EQ(
      q.GetSelectQueryByItemIndex(3, "a", "b", &bad.param, 1, 0, buf, 400), 0u);
  EXPECT_EQ(q.GetSelectQueryByItemIndex(3, nullptr, "b", &p, 1, 0, buf, 400),
            0u);
  // A null array with a count is no parameters.
  EXPECT_EQ(q.GetSelectQueryByItemIndex(3, "a", "b", nullptr, 5, 0, buf, 400),
            q.GetSelectQueryByItemIndex(3, "a", "b", &p, 0, 0, buf, 400));
  EXPECT_EQ(q.IsValidSearchRecord("x", nullptr, 3, 1), 1);
  EXPECT_EQ(q.IsValidSearchRecord("CARD 12 EUR", &card, 1, 0), 1);
  EXPECT_EQ(q.IsValidSearchRecord("CARD EUR 12", &card, 1, 0), 0);
  EXPECT_EQ(q.IsValidSearchRecord(nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(q.IsValidSearchRecord("x", &bad.param, 1, 1), 0);
}

}  // namespace
}  // namespace quillmore
