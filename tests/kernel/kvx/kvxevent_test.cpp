#include "kernel/kvx/kvxevent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "geometry/rng.h"
#include "kernel/testfiles.h"

namespace {

std::string kvxHeaderText() {
    return std::string(kKvxBanner) + "\n" + kKvxVersionTag + " 1.0\nthird\nfourth\n";
}

struct Log {
    std::vector<std::string> events;
    int stopAt = -1;  // the event count at which a handler answers 0
};

int note(Log* log, const std::string& e) {
    log->events.push_back(e);
    return static_cast<int>(log->events.size()) == log->stopAt ? 0 : 1;
}

int onP(KvxRecord* r, KvxObjData*, void* u) {
    return note(static_cast<Log*>(u), std::string("P:") + (r->id ? r->id : ""));
}
int onPset(KvxRecord* r, KvxObjData*, void* u) {
    return note(static_cast<Log*>(u), std::string("Pset:") + (r->id ? r->id : ""));
}
int onPsetAgain(KvxRecord*, KvxObjData*, void* u) {
    return note(static_cast<Log*>(u), "Pset2");
}
int onMethodP(KvxRecord* r, KvxObjData*, void* u) {
    std::string body;
    if (r->params != nullptr && r->params->value != nullptr) {
        body = r->params->value;
    } else if (r->file != nullptr) {
        for (int c = getc(r->file); c != EOF && c != ')'; c = getc(r->file)) body += static_cast<char>(c);
    }
    return note(static_cast<Log*>(u),
                "mP:" + std::string(r->id ? r->id : "") + ":" + std::to_string(body.size()));
}
int onValue(KvxRecord* r, KvxObjData* d, void* u) {
    kvxDefaultValue(r, d, u);
    char* v = kvxObjGetAttr(d, r->name);
    const int rc = note(static_cast<Log*>(u), std::string("v:") + r->name + "=" + (v ? v : ""));
    std::free(v);
    return rc;
}
int onOpen(KvxRecord* r, KvxObjData* d, void* u) {
    kvxDefaultOpen(r, d, u);
    return note(static_cast<Log*>(u), "{");
}
int onClose(KvxRecord* r, KvxObjData* d, void* u) {
    kvxDefaultClose(r, d, u);
    return note(static_cast<Log*>(u), "}");
}

}  // namespace

TEST(NameTrie, IndicesInInsertionOrderAndPrefixesApart) {
    NameTrie* t = nameTrieCreate();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(nameTrieInsert(t, "P"), 1);
    EXPECT_EQ(nameTrieInsert(t, "Pset"), 2);
    EXPECT_EQ(nameTrieInsert(t, "P"), 1);
    EXPECT_EQ(nameTrieInsert(t, "Face"), 3);
    EXPECT_EQ(nameTrieInsert(t, ""), 0);
    EXPECT_EQ(nameTrieInsert(t, nullptr), 0);
    const struct {
        const char* name;
        int32_t index;
    } finds[] = {{"P", 1}, {"Pset", 2}, {"Ps", 0}, {"Psets", 0}, {"Face", 3}, {"F", 0}, {"p", 0}, {"", 0}};
    for (const auto& f : finds) EXPECT_EQ(nameTrieFind(t, f.name), f.index) << f.name;
    // The index chain runs in ascending order.
    int32_t expect = 1;
    for (const NameTrieNode* n = t->firstIndexed; n != nullptr; n = n->nextIndexed)
        EXPECT_EQ(n->index, expect++);
    EXPECT_EQ(expect, 4);
    nameTrieFree(t);
}

TEST(NameTrie, SeededNamesAgainstAMap) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        Rng rng{seed};
        NameTrie* t = nameTrieCreate();
        ASSERT_NE(t, nullptr);
        std::map<std::string, int32_t> oracle;
        for (int i = 0; i < 300; ++i) {
            std::string name;
            const int len = 1 + rngStep(&rng) % 6;
            for (int k = 0; k < len; ++k) name += static_cast<char>("abAB\x80\xff_"[rngStep(&rng) % 7]);
            const int32_t got = nameTrieInsert(t, name.c_str());
            auto it = oracle.find(name);
            const int32_t want = it != oracle.end() ? it->second : static_cast<int32_t>(oracle.size()) + 1;
            oracle.emplace(name, want);
            ASSERT_EQ(got, want) << name;
        }
        for (const auto& [name, index] : oracle) {
            EXPECT_EQ(nameTrieFind(t, name.c_str()), index);
            EXPECT_EQ(nameTrieFind(t, (name + "q").c_str()),
                      oracle.count(name + "q") ? oracle[name + "q"] : 0);
        }
        // Siblings stay in descending character order everywhere.
        std::vector<const NameTrieNode*> stack = {t->child};
        while (!stack.empty()) {
            const NameTrieNode* n = stack.back();
            stack.pop_back();
            for (; n != nullptr; n = n->sibling) {
                if (n->sibling != nullptr) {
                    EXPECT_GT(n->c, n->sibling->c);
                }
                stack.push_back(n->child);
            }
        }
        nameTrieFree(t);
    }
}

TEST(KvxEvent, HandlersByNameDefaultsAndStop) {
    const std::string body =
        "v scale(1000)\n{\nv scale(10)\no Pset[4]()\no P[2](x[1])\no Unknown[1]()\nm P[7](+1+2+3)\n}\n"
        "o Pset()\nm Other(abc)\nv base(16)\n";
    writeTestFile("events.kvx", kvxHeaderText() + body);
    const struct {
        int stopAt;
        int result;
        std::vector<std::string> events;
    } cases[] = {
        {-1, 1, {"v:scale=1000", "{", "v:scale=10", "Pset2", "P:2", "mP:7:6", "}", "Pset2", "v:base=16"}},
        {3, 0, {"v:scale=1000", "{", "v:scale=10"}},
        {5, 0, {"v:scale=1000", "{", "v:scale=10", "Pset2", "P:2"}},
    };
    for (const auto& c : cases) {
        Log log;
        log.stopAt = c.stopAt;
        KvxHandlerTable* t = kvxHandlerTableCreate(&log, onValue, onOpen, onClose);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(kvxOnObject(t, "P", onP), 1);
        EXPECT_EQ(kvxOnObject(t, "Pset", onPset), 1);
        EXPECT_EQ(kvxOnObject(t, "Pset", onPsetAgain), 1);  // replaced, same index
        EXPECT_EQ(nameTrieFind(t->objectNames, "Pset"), 2);
        EXPECT_EQ(kvxOnMethod(t, "P", onMethodP), 1);
        EXPECT_EQ(kvxOnObject(t, "", onP), 0);
        EXPECT_EQ(kvxParseWithHandlers("events.kvx", t, nullptr), c.result);
        EXPECT_EQ(log.events, c.events);
        kvxHandlerTableFree(t);
    }
    KvxHandlerTable* t = kvxHandlerTableCreate(nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(kvxParseWithHandlers("absent.kvx", t, nullptr), 0);
    EXPECT_EQ(kvxParseWithHandlers("events.kvx", nullptr, nullptr), 0);
    EXPECT_EQ(kvxParseWithHandlers("events.kvx", t, nullptr), 1);  // all defaults accept
    char* base = kvxObjGetAttr(t->data, "base");
    ASSERT_NE(base, nullptr);
    EXPECT_STREQ(base, "16");
    std::free(base);
    kvxHandlerTableFree(t);
}

TEST(KvxEvent, StartHookAndLongBodyInFile) {
    const std::string big(6000, '7');
    writeTestFile("long.kvx", kvxHeaderText() + "m P[1](" + big + ")\no P[9]()\n");
    Log log;
    KvxHandlerTable* t = kvxHandlerTableCreate(&log, nullptr, nullptr, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(kvxOnMethod(t, "P", onMethodP), 1);
    ASSERT_EQ(kvxOnObject(t, "P", onP), 1);
    auto refuse = [](const KvxHeader* h, void*) { return h->major == 1 ? 7 : 1; };
    EXPECT_EQ(kvxParseWithHandlers("long.kvx", t, refuse), 7);
    EXPECT_TRUE(log.events.empty());
    auto accept = [](const KvxHeader*, void*) { return 1; };
    EXPECT_EQ(kvxParseWithHandlers("long.kvx", t, accept), 1);
    EXPECT_EQ(log.events, (std::vector<std::string>{"mP:1:6000", "P:9"}));
    kvxHandlerTableFree(t);
}
