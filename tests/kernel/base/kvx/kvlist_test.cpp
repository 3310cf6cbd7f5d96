#include "kernel/base/kvx/kvlist.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Takes ownership of a getter's copy.
std::string take(char* text) {
    std::string s = text ? text : "<null>";
    free(text);
    return s;
}

int countNodes(const KvList* list) {
    int n = 0;
    for (; list; list = list->next) ++n;
    return n;
}

}  // namespace

TEST(KvList, SetKeepsOneNodePerKeyWithLastValueAndType) {
    KvList* list = nullptr;
    list = kvListSet(list, "a", "1", kKvDefaults);
    list = kvListSet(list, "b", "2", kKvDefaults);
    list = kvListSet(list, "a", "3", kKvFile);
    EXPECT_EQ(countNodes(list), 2);
    uint16_t type = 0;
    EXPECT_EQ(take(kvListGet(list, "a", &type)), "3");
    EXPECT_EQ(type, kKvFile);
    EXPECT_EQ(list->key, std::string("b"));  // new keys go to the head
    kvListFree(list);
}

TEST(KvList, SetIgnoresEmptyKeyOrValue) {
    KvList* list = kvListSet(nullptr, "a", "1", kKvFile);
    list = kvListSet(list, "a", "", kKvDerived);
    list = kvListSet(list, "a", nullptr, kKvDerived);
    list = kvListSet(list, "", "x", kKvDerived);
    list = kvListSet(list, nullptr, "x", kKvDerived);
    uint16_t type = 0;
    EXPECT_EQ(take(kvListGet(list, "a", &type)), "1");
    EXPECT_EQ(type, kKvFile);
    EXPECT_EQ(countNodes(list), 1);
    kvListFree(list);
}

TEST(KvList, AppendKeepsDuplicatesInOrder) {
    KvList* list = nullptr;
    list = kvListAppend(list, "k", "first", kKvFile);
    list = kvListAppend(list, "other", "x", kKvFile);
    list = kvListAppend(list, "k", "second", kKvDerived);
    list = kvListAppend(list, "", "ignored", kKvFile);
    ASSERT_EQ(countNodes(list), 3);
    EXPECT_EQ(take(kvListGet(list, "k", nullptr)), "first");
    uint16_t type = 0;
    EXPECT_EQ(take(kvListGetLast(list, "k", &type)), "second");
    EXPECT_EQ(type, kKvDerived);
    EXPECT_EQ(list->key, std::string("k"));
    kvListFree(list);
}

TEST(KvList, AppendWithoutValueStoresEmptyText) {
    KvList* list = kvListAppend(nullptr, "k", nullptr, kKvFile);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->value, nullptr);
    EXPECT_STREQ(list->value, "");
    EXPECT_EQ(take(kvListGet(list, "k", nullptr)), "");
    kvListFree(list);
}

TEST(KvList, LookupsAreCaseSensitiveAndMissingGivesNull) {
    KvList* list = kvListSet(nullptr, "Key", "v", kKvFile);
    EXPECT_EQ(kvListGet(list, "key", nullptr), nullptr);
    EXPECT_EQ(kvListGetLast(list, "KEY", nullptr), nullptr);
    EXPECT_EQ(kvListGet(nullptr, "Key", nullptr), nullptr);
    kvListFree(list);
}

TEST(KvList, GetBufCutsToMaxLengthAndLeavesBufferWhenAbsent) {
    KvList* list = kvListSet(nullptr, "k", "abcdef", kKvFile);
    char buf[8] = "zzzzzzz";
    EXPECT_EQ(kvListGetBuf(list, "k", buf, 3), 1);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(kvListGetBuf(list, "k", buf, 7), 1);
    EXPECT_STREQ(buf, "abcdef");
    strcpy(buf, "keep");
    EXPECT_EQ(kvListGetBuf(list, "missing", buf, 7), 0);
    EXPECT_STREQ(buf, "keep");
    kvListFree(list);
}

TEST(KvList, AddPairMovesTextsAndReplacesValue) {
    KvPair pair = {strdup("k"), strdup("1")};
    KvList* list = kvListAddPair(nullptr, &pair, kKvFile);
    EXPECT_EQ(pair.key, nullptr);
    EXPECT_EQ(pair.value, nullptr);
    pair = {strdup("k"), strdup("2")};
    list = kvListAddPair(list, &pair, kKvDerived);
    EXPECT_NE(pair.key, nullptr);  // the existing node keeps its key; the pair still owns its own
    EXPECT_EQ(pair.value, nullptr);
    free(pair.key);
    uint16_t type = 0;
    EXPECT_EQ(take(kvListGet(list, "k", &type)), "2");
    EXPECT_EQ(type, kKvDerived);
    EXPECT_EQ(countNodes(list), 1);
    kvListFree(list);
    kvListFree(nullptr);
}
