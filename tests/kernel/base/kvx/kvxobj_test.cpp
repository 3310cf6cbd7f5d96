#include "kernel/base/kvx/kvxobj.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "kernel/base/cfgfile.h"
#include "kernel/testfiles.h"

namespace {

struct ObjDeleter {
    void operator()(KvxObjData* obj) const { kvxObjFree(obj); }
};
using Obj = std::unique_ptr<KvxObjData, ObjDeleter>;

std::string attr(const KvxObjData* obj, const char* name) {
    char* value = kvxObjGetAttr(obj, name);
    std::string text = value ? value : "<none>";
    free(value);
    return text;
}

// Reads a file the way a scope-keeping caller does; "name=id" per object and method.
std::vector<std::string> numberedRecords(const std::string& body) {
    writeTestFile("scopes.kvx", std::string(kKvxBanner) + "\n" + kKvxVersionTag + " 1.0\nt\nt\n" + body);
    std::vector<std::string> out;
    KvxHeader h{};
    FILE* f = kvxOpen("scopes.kvx", &h);
    if (!f) return out;
    Obj obj(kvxObjCreate());
    KvxRecord r{};
    while (kvxReadRecord(f, &r)) {
        if (r.type == '{') kvxObjPushLevel(obj.get());
        if (r.type == '}') kvxObjPopLevel(obj.get());
        if (r.type == 'v') kvxObjSetAttr(obj.get(), r.name, r.id);
        if (r.type == 'o') kvxAssignObjectId(obj.get(), &r);
        if (r.type == 'm') kvxAssignMethodId(obj.get(), &r);
        if (r.type == 'o' || r.type == 'm') out.push_back(std::string(r.name) + "=" + (r.id ? r.id : "-"));
        if (r.type == 'v' && std::string(r.name) == "probe") out.push_back("probe:" + attr(obj.get(), "a"));
    }
    kvxRecordReset(&r);
    cfgFileClose(f);
    kvxHeaderFree(&h);
    return out;
}

}  // namespace

TEST(KvxObj, CreateSetAndGet) {
    Obj obj(kvxObjCreate());
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->level, 1u);
    EXPECT_EQ(attr(obj.get(), kKvxObjectCounter), "1");
    EXPECT_EQ(attr(obj.get(), kKvxMethodCounter), "1");
    EXPECT_EQ(kvxObjSetAttr(obj.get(), "a", "1"), 0);
    EXPECT_EQ(kvxObjSetAttr(obj.get(), "a", "2"), 1);
    EXPECT_EQ(kvxObjSetAttr(obj.get(), "", "2"), 0);
    EXPECT_EQ(kvxObjSetAttr(obj.get(), "b", ""), 0);
    EXPECT_EQ(kvxObjSetAttr(obj.get(), nullptr, "2"), 0);
    EXPECT_EQ(attr(obj.get(), "a"), "2");
    EXPECT_EQ(attr(obj.get(), "b"), "<none>");
    EXPECT_EQ(attr(obj.get(), ""), "<none>");
    EXPECT_EQ(kvxObjSetAttr(obj.get(), kKvxObjectCounter, "7"), 1);
    EXPECT_EQ(obj->objectCounter, 7u);
    kvxObjClear(obj.get());
    EXPECT_EQ(attr(obj.get(), "a"), "<none>");
    EXPECT_EQ(attr(obj.get(), kKvxObjectCounter), "<none>");  // not set again by a clear
    EXPECT_EQ(obj->objectCounter, 1u);
    kvxObjClear(nullptr);
    kvxObjFree(nullptr);
}

TEST(KvxObj, ScopesRestoreOuterValuesAndDropInnerOnes) {
    Obj obj(kvxObjCreate());
    kvxObjSetAttr(obj.get(), "a", "outer");
    EXPECT_EQ(kvxObjPopLevel(obj.get()), 0);  // at level 1: nothing changes
    EXPECT_EQ(attr(obj.get(), "a"), "outer");
    EXPECT_EQ(obj->level, 1u);

    ASSERT_EQ(kvxObjPushLevel(obj.get()), 1);
    kvxObjSetAttr(obj.get(), "a", "inner1");
    kvxObjSetAttr(obj.get(), "a", "inner2");  // overwritten twice in the same scope
    kvxObjSetAttr(obj.get(), "b", "only inside");
    ASSERT_EQ(kvxObjPushLevel(obj.get()), 1);
    kvxObjSetAttr(obj.get(), "a", "deeper");
    kvxObjSetAttr(obj.get(), "b", "deeper b");
    EXPECT_EQ(obj->level, 3u);
    EXPECT_EQ(attr(obj.get(), "a"), "deeper");

    ASSERT_EQ(kvxObjPopLevel(obj.get()), 1);
    EXPECT_EQ(attr(obj.get(), "a"), "inner2");
    EXPECT_EQ(attr(obj.get(), "b"), "only inside");
    ASSERT_EQ(kvxObjPopLevel(obj.get()), 1);
    EXPECT_EQ(attr(obj.get(), "a"), "outer");
    EXPECT_EQ(attr(obj.get(), "b"), "<none>");
    EXPECT_EQ(obj->level, 1u);
    EXPECT_EQ(kvxObjPushLevel(nullptr), 0);
    EXPECT_EQ(kvxObjPopLevel(nullptr), 0);
}

TEST(KvxObj, UnnamedIdsRestartInEachScopeAndResumeAfterIt) {
    std::vector<std::string> got = numberedRecords(
        "v a(outer)\n"
        "m first(x)\n"
        "o P(k[1])\n"
        "{\n"
        "v a(inner)\n"
        "v probe(1)\n"
        "m second(x)\n"
        "m named[9](x)\n"
        "m third(x)\n"
        "o Q(k[1])\n"
        "{\n"
        "m deep(x)\n"
        "}\n"
        "m fourth(x)\n"
        "}\n"
        "v probe(1)\n"
        "m fifth(x)\n"
        "o R(k[1])\n");
    EXPECT_EQ(got,
              (std::vector<std::string>{"first=1", "P=1", "probe:inner", "second=1", "named=9", "third=3",
                                        "Q=1", "deep=1", "fourth=4", "probe:outer", "fifth=2", "R=2"}));
}

TEST(KvxObj, AssignIdsOnlyForTheirRecordType) {
    Obj obj(kvxObjCreate());
    KvxRecord r{};
    r.type = 'v';
    EXPECT_EQ(kvxAssignObjectId(obj.get(), &r), 0);
    EXPECT_EQ(kvxAssignMethodId(obj.get(), &r), 0);
    EXPECT_EQ(obj->objectCounter, 1u);
    r.type = 'o';
    EXPECT_EQ(kvxAssignMethodId(obj.get(), &r), 0);
    EXPECT_EQ(kvxAssignObjectId(obj.get(), &r), 1);
    EXPECT_STREQ(r.id, "1");
    EXPECT_EQ(kvxAssignObjectId(obj.get(), &r), 0);  // has an id now; the counter still advances
    EXPECT_STREQ(r.id, "1");
    EXPECT_EQ(obj->objectCounter, 3u);
    EXPECT_EQ(obj->methodCounter, 1u);
    kvxRecordReset(&r);
}

TEST(KvxObj, NamesBlockFromParametersAndPresets) {
    KvxNames names;
    kvxNamesSet(&names, "X", "", "averyveryverylongzname-cut-here");
    EXPECT_STREQ(names.names[0], "");
    for (int row = 0; row < 3; ++row) {
        EXPECT_STREQ(names.names[1 + 3 * row], "X");
        EXPECT_STREQ(names.names[2 + 3 * row], "");
        EXPECT_STREQ(names.names[3 + 3 * row], "averyveryverylongzname-");
    }
    KvxRecord r{};
    r.type = 'o';
    KvxParam o{const_cast<char*>("o"), const_cast<char*>("-arc"), nullptr};
    KvxParam x{const_cast<char*>("x"), const_cast<char*>("1//3/4"), &o};
    KvxParam zz{const_cast<char*>("zz"), const_cast<char*>("9"), &x};
    KvxParam y{const_cast<char*>("y"), nullptr, &zz};
    r.params = &y;
    EXPECT_EQ(kvxRecordToNames(&names, &r), 1 | 2);
    EXPECT_STREQ(names.names[0], "-arc");
    EXPECT_STREQ(names.names[1], "1");
    EXPECT_STREQ(names.names[4], "X");  // an empty part keeps the slot
    EXPECT_STREQ(names.names[7], "3");  // a fourth part has no row
    EXPECT_STREQ(names.names[2], "");
    EXPECT_EQ(kvxRecordToNames(nullptr, &r), 0);
}

// A value restored when a scope closes belongs to the scope it was set in, not
// to the one the closing leads back to.
TEST(KvxObj, RestoredValuesKeepTheirScope) {
    struct Case {
        const char* body;
        std::vector<std::string> probes;
    } cases[] = {
        {"v a(1)\n{\n{\nv a(2)\n}\n}\nv probe(1)\n", {"probe:1"}},
        {"{\nv a(1)\n{\n{\nv a(2)\n}\nv probe(1)\n}\nv probe(1)\n}\nv probe(1)\n",
         {"probe:1", "probe:1", "probe:<none>"}},
        {"v a(1)\n{\nv a(2)\n{\nv a(3)\n}\nv probe(1)\n}\nv probe(1)\n", {"probe:2", "probe:1"}},
    };
    for (const Case& c : cases) EXPECT_EQ(numberedRecords(c.body), c.probes) << c.body;
}

TEST(KvxObj, ScopesDeeperThanSixteenBitsStillCloseWhatTheyOpened) {
    Obj obj(kvxObjCreate());
    ASSERT_NE(obj, nullptr);
    kvxObjSetAttr(obj.get(), "a", "outer");
    const uint32_t depth = 70000;
    for (uint32_t i = 0; i < depth; ++i) ASSERT_EQ(kvxObjPushLevel(obj.get()), 1);
    EXPECT_EQ(obj->level, depth + 1);
    kvxObjSetAttr(obj.get(), "b", "inner");
    kvxObjSetAttr(obj.get(), "a", "inner");
    ASSERT_EQ(kvxObjPopLevel(obj.get()), 1);
    EXPECT_EQ(attr(obj.get(), "b"), "<none>");
    EXPECT_EQ(attr(obj.get(), "a"), "outer");
    for (uint32_t i = 1; i < depth; ++i) ASSERT_EQ(kvxObjPopLevel(obj.get()), 1);
    EXPECT_EQ(obj->level, 1u);
    EXPECT_EQ(attr(obj.get(), "a"), "outer");
}
