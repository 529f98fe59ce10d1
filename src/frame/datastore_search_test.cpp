// Item-search definitions, the search SELECT and the record matcher through
// the public facade, against a temporary installation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "quillmore/QuillmoreExt.h"
#include "search/test_records.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

using testing::Put;

// Fields of the other kinds hold junk, as a host may leave them.
_tagITEMSEARCHINFO Item(const char* name, std::uint8_t type) {
  _tagITEMSEARCHINFO r;
  std::memset(&r, 0x5A, sizeof r);
  Put(r.szName, name);
  r.byType = type;
  Put(r.szElement, "el");
  Put(r.szAttribute, "");
  Put(r.szTable, "USR_T");
  Put(r.szField, "f_x");
  Put(r.szKeyword, "kw");
  Put(r.szNoKeyword, "");
  Put(r.szDefinedValue, "");
  r.nSplit = -1;
  r.dwFindNumber = r.nFindType = r.nPreItemId = 0;
  return r;
}

// Refuses the read-access test for one address, like a host's bad pointer.
struct RefusingPlatform : PlatformWrapper {
  using PlatformWrapper::PlatformWrapper;
  bool IsReadable(const void* p, std::size_t size) override {
    return p != refused && PlatformWrapper::IsReadable(p, size);
  }
  const void* refused = nullptr;
};

class ItemSearchTest : public ::testing::Test {
 protected:
  ItemSearchTest() : platform_(&inst_.platform()) {
    platform_.refused = bad_;
    SetPlatformForTesting(&platform_);
  }
  template <typename T>
  T* Bad() {
    return reinterpret_cast<T*>(bad_);
  }
  std::string Key(int device, const std::string& section,
                  const std::string& key) {
    return inst_.platform().ProfileString(inst_.ConfigPath(device), section,
                                          key, "<none>", 300);
  }
  TestInstallation inst_;
  RefusingPlatform platform_;
  alignas(8) char bad_[sizeof(_tagITEMSEARCHINFO)] = {};
};

TEST_F(ItemSearchTest, FileOfADeviceThatIsNotLoaded) {
  CQuillmoreExt q;
  _tagITEMSEARCHINFO out[4];
  EXPECT_EQ(q.GetItemSearchElementsCount(5), 0u);
  EXPECT_EQ(q.GetItemSearchElementByIndex(5, 0, out), 0);
  EXPECT_EQ(q.GetItemSearchElement(5, out, 4), 0);
  EXPECT_EQ(q.SetItemSearchElement(5, nullptr, 0), 0);
  EXPECT_FALSE(inst_.Exists("devdata5.ini"));

  std::vector<_tagITEMSEARCHINFO> items = {Item("", 0), Item("b", 1),
                                           Item("c", 3)};
  Put(items[0].szName, std::string(50, 'n'));  // no terminator
  items[1].dwFindNumber = 1;
  items[1].nFindType = 2;
  ASSERT_EQ(q.SetItemSearchElement(5, items.data(), 3), 1);
  EXPECT_EQ(Key(5, "S1", "KEYWORD"), "<none>");  // the kind's keys only
  EXPECT_EQ(Key(5, "S1", "FINDTYPE"), "<none>");
  EXPECT_EQ(Key(5, "S2", "FINDTYPE"), "2");

  // Capacity one short: untouched; larger: the rest cleared.
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(q.GetItemSearchElement(5, out, 2), 0);
  EXPECT_EQ(out[0].szName[0], '#');
  ASSERT_EQ(q.GetItemSearchElement(5, out, 4), 1);
  EXPECT_EQ(std::string(out[0].szName), std::string(49, 'n'));
  EXPECT_EQ(out[0].szTable[0], '\0');  // other kinds read as zero
  EXPECT_EQ(out[1].nFindType, 2);
  EXPECT_EQ(out[2].byType, 3);  // stored whole with the keyword keys
  EXPECT_STREQ(out[2].szKeyword, "kw");
  const _tagITEMSEARCHINFO zero{};
  EXPECT_EQ(std::memcmp(&out[3], &zero, sizeof zero), 0);

  // Kind 0 -> 1: the kind-0 keys stay but are not read; a FINDNUMBER of 0
  // leaves the old FINDTYPE, which is read back.
  _tagITEMSEARCHINFO one = Item("x", 1);
  Put(one.szTable, std::string(60, 't'));
  EXPECT_EQ(q.SetItemSearchElementByIndex(5, 0, &one), 1);
  EXPECT_EQ(q.SetItemSearchElementByIndex(5, 1, &one), 1);
  EXPECT_EQ(Key(5, "S1", "ELEMENT"), "el");
  ASSERT_EQ(q.GetItemSearchElementByIndex(5, 0, out), 1);
  EXPECT_EQ(out[0].szElement[0], '\0');
  EXPECT_EQ(std::string(out[0].szTable), std::string(59, 't'));
  ASSERT_EQ(q.GetItemSearchElementByIndex(5, 1, out), 1);
  EXPECT_EQ(out[0].nFindType, 2);

  _tagITEMSEARCHINFO three = Item("x", 3);
  EXPECT_EQ(q.SetItemSearchElementByIndex(5, 0, &three), 0);
  EXPECT_EQ(q.AddItemSearchElement(5, &three), 0);
  EXPECT_EQ(q.SetItemSearchElementByIndex(5, 3, &one), 0);
  EXPECT_EQ(q.SetItemSearchElementByIndex(5, 0xFFFFFFFFu, &one), 0);
  EXPECT_EQ(q.GetItemSearchElementByIndex(5, 0xFFFFFFFFu, out), 0);
  EXPECT_EQ(q.DeleteItemSearchElementByIndex(5, 0xFFFFFFFFu), 0);
  EXPECT_EQ(q.GetItemSearchElementByIndex(5, 0, Bad<_tagITEMSEARCHINFO>()), 0);
  EXPECT_EQ(q.AddItemSearchElement(5, Bad<_tagITEMSEARCHINFO>()), 0);
  EXPECT_EQ(q.SetItemSearchElement(5, Bad<_tagITEMSEARCHINFO>(), 1), 0);
  EXPECT_EQ(q.GetItemSearchElementsCount(5), 3u);
}

TEST_F(ItemSearchTest, DeletionMovesItemsForwardAndLeavesTheLastSection) {
  CQuillmoreExt q;
  std::vector<_tagITEMSEARCHINFO> items = {Item("a", 2), Item("b", 1),
                                           Item("c", 0)};
  items[0].nSplit = 3;
  ASSERT_EQ(q.SetItemSearchElement(6, items.data(), 3), 1);
  ASSERT_EQ(q.DeleteItemSearchElementByIndex(6, 0), 1);
  EXPECT_EQ(Key(6, "ITEMSEARCH", "LEN"), "2");
  EXPECT_EQ(Key(6, "ITEMSEARCH", "S1") + Key(6, "ITEMSEARCH", "S2") +
                Key(6, "ITEMSEARCH", "S3"),
            "bcc");
  EXPECT_EQ(Key(6, "S1", "TABLE"), "USR_T");
  EXPECT_EQ(Key(6, "S1", "SPLIT"), "3");  // stale, unread
  EXPECT_EQ(Key(6, "S3", "ELEMENT"), "el");

  std::string expected = inst_.Read("devdata6.ini");
  expected.replace(expected.find("LEN=2"), 5, "LEN=1");
  ASSERT_EQ(q.DeleteItemSearchElementByIndex(6, 1), 1);  // the last one
  EXPECT_EQ(inst_.Read("devdata6.ini"), expected);
  _tagITEMSEARCHINFO d = Item("d", 2);
  ASSERT_EQ(q.AddItemSearchElement(6, &d), 1);
  EXPECT_EQ(Key(6, "ITEMSEARCH", "S2"), "d");

  // SPLIT 65535 and a missing SPLIT both read as -1.
  inst_.Write("devdata7.ini",
              "[ITEMSEARCH]\nLEN=2\n[S1]\nTYPE=2\nSPLIT=65535\n"
              "[S2]\nTYPE=2\nFINDTYPE=65534\n");
  _tagITEMSEARCHINFO out;
  ASSERT_EQ(q.GetItemSearchElementByIndex(7, 0, &out), 1);
  EXPECT_EQ(out.nSplit, -1);
  ASSERT_EQ(q.GetItemSearchElementByIndex(7, 1, &out), 1);
  EXPECT_EQ(out.nSplit, -1);
  EXPECT_EQ(out.nFindType, -2);
}

TEST_F(ItemSearchTest, LoadedDeviceChangesTheCacheFirst) {
  inst_.Write("devdata2.ini", "[GENERAL]\nDBTYPE=1\n");
  CQuillmoreExt q, other;
  ASSERT_EQ(q.LoadData(2), 1);
  _tagITEMSEARCHINFO a = Item("a", 2), out;
  a.dwFindNumber = 1;
  a.nFindType = 2;
  ASSERT_EQ(q.AddItemSearchElement(2, &a), 1);
  a.dwFindNumber = 0;
  a.nFindType = 5;
  ASSERT_EQ(q.SetItemSearchElementByIndex(2, 0, &a), 1);
  ASSERT_EQ(q.GetItemSearchElementByIndex(2, 0, &out), 1);
  EXPECT_EQ(std::memcmp(&out, &a, sizeof a), 0);  // as passed, junk included
  ASSERT_EQ(other.GetItemSearchElementByIndex(2, 0, &out), 1);
  EXPECT_EQ(out.nFindType, 2);  // the file kept the old FINDTYPE

  // The file's list shrank behind the cache: the cache changes, result 0.
  inst_.platform().WriteProfileString(inst_.ConfigPath(2), "ITEMSEARCH", "LEN",
                                      "0");
  _tagITEMSEARCHINFO b = Item("b", 0);
  EXPECT_EQ(q.SetItemSearchElementByIndex(2, 0, &b), 0);
  ASSERT_EQ(q.GetItemSearchElementByIndex(2, 0, &out), 1);
  EXPECT_STREQ(out.szName, "b");
  EXPECT_EQ(q.DeleteItemSearchElementByIndex(2, 0), 0);
  EXPECT_EQ(q.GetItemSearchElementsCount(2), 0u);
  EXPECT_EQ(q.GetItemSearchElementByIndex(2, 0, &out), 0);

  // The loaded device leaves the array's tail as it was.
  std::vector<_tagITEMSEARCHINFO> list = {Item("x", 1), Item("y", 2)};
  ASSERT_EQ(q.SetItemSearchElement(2, list.data(), 2), 1);
  _tagITEMSEARCHINFO arr[3];
  std::memset(arr, '#', sizeof arr);
  ASSERT_EQ(q.GetItemSearchElement(2, arr, 3), 1);
  EXPECT_EQ(std::memcmp(&arr[1], &list[1], sizeof list[1]), 0);
  EXPECT_EQ(arr[2].szName[0], '#');
  ASSERT_EQ(q.SetItemSearchElement(2, list.data(), 0), 1);
  EXPECT_EQ(q.GetItemSearchElementsCount(2), 0u);
  EXPECT_EQ(Key(2, "ITEMSEARCH", "LEN"), "0");
}

TEST_F(ItemSearchTest, SearchSelectAndRecordMatcher) {
  inst_.Write("devdata3.ini",
              "[GENERAL]\nDBTYPE=1\n[ITEMSEARCH]\nLEN=3\n"
              "[S1]\nTYPE=1\nTABLE=USR_T\nFIELD=f_total\nFINDNUMBER=1\n"
              "PREITEMID=2\n[S2]\nTYPE=1\nTABLE=USR_T\nFIELD=f_kind\n"
              "DEFINEDVALUE=sale\n[S3]\nTYPE=2\nKEYWORD=card\nSPLIT=1\n");
  CQuillmoreExt q;
  char buf[512];
  _tagSEARCHPARAM p = testing::Param(0, "12.5", 2), card = testing::Param(2);
  EXPECT_EQ(q.GetSelectQueryByItemIndex(3, "a", "b", &p, 1, 0, buf, 512), 0u);
  EXPECT_EQ(q.IsValidSearchRecord("CARD", &card, 1, 0), 0);
  ASSERT_EQ(q.LoadData(3), 1);
  const std::string expected =
      "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, f_savepos, "
      "f_cam, f_text FROM TBL_TEXTDATAEX3_1A2B3C4D m INNER JOIN USR_T ON "
      "m.f_id =  USR_T.f_id  WHERE ((USR_T.f_kind = 'sale') and "
      "(CDBL(USR_T.f_total) >= 12.5)) and m.f_cam = 3 and (m.f_date between "
      "'a' and 'b') order by m.f_id";
  const auto n = static_cast<std::uint32_t>(expected.size());
  for (std::uint32_t size : {0u, 1u, n - 1, n, n + 1}) {
    SCOPED_TRACE(size);
    std::memset(buf, '#', sizeof buf);
    const std::uint32_t got =
        q.GetSelectQueryByItemIndex(3, "a", "b", &p, 1, 0, buf, size);
    EXPECT_EQ(got, size > n ? n : 0u);
    EXPECT_EQ(std::string(buf, got), expected.substr(0, got));
    EXPECT_EQ(buf[got == 0 ? 0 : n], got == 0 ? '#' : '\0');
    EXPECT_EQ(buf[n + 1], '#');
  }
  EXPECT_EQ(q.GetSelectQueryByItemIndex(3, "a", "b", Bad<_tagSEARCHPARAM>(), 1,
                                        0, buf, 512),
            0u);
  EXPECT_EQ(q.GetSelectQueryByItemIndex(3, nullptr, "b", &p, 1, 0, buf, 512),
            0u);
  // A null array with a count is no parameters.
  const std::uint32_t bare =
      q.GetSelectQueryByItemIndex(100, "a", "b", nullptr, 5, 0, buf, 512);
  EXPECT_EQ(std::string(buf, bare),
            "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, "
            "f_savepos, f_cam, f_text FROM TBL_TEXTDATAEX3_1A2B3C4D m WHERE "
            "(m.f_date between 'a' and 'b') order by m.f_cam,m.f_id");

  EXPECT_EQ(q.IsValidSearchRecord("CARD 12 EUR", &card, 1, 0), 1);
  EXPECT_EQ(q.IsValidSearchRecord("CARD EUR 12", &card, 1, 0), 0);
  EXPECT_EQ(q.IsValidSearchRecord(nullptr, &card, 1, 0), 0);
  EXPECT_EQ(q.IsValidSearchRecord("x", nullptr, 3, 1), 1);
  EXPECT_EQ(q.IsValidSearchRecord("x", Bad<_tagSEARCHPARAM>(), 1, 1), 0);
  card.nItemIndex = 3;
  EXPECT_EQ(q.IsValidSearchRecord("CARD", &card, 1, 1), 0);
}

}  // namespace
}  // namespace quillmore
