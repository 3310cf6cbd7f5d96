#include "kernel/base/kvx/kvxevent.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/testfiles.h"

namespace {

struct Log {
    std::vector<std::string> events;
    int stopAt = -1;  // the event count at which a handler answers 0
};

// Every handler: "type name:id" (methods add the body length, values the attribute now in force).
int logRecord(KvxRecord* r, KvxObjData* d, void* u) {
    auto* log = static_cast<Log*>(u);
    std::string e = std::string(1, static_cast<char>(r->type));
    if (r->type == '{') kvxDefaultOpen(r, d, u);
    if (r->type == '}') kvxDefaultClose(r, d, u);
    if (r->type == 'v') {
        kvxDefaultValue(r, d, u);
        char* v = kvxObjGetAttr(d, r->name);
        e += std::string(" ") + r->name + "=" + (v ? v : "");
        std::free(v);
    }
    if (r->type == 'o' || r->type == 'm') e += std::string(" ") + r->name + ":" + (r->id ? r->id : "");
    if (r->type == 'm') {
        std::string body = r->params != nullptr && r->params->value != nullptr ? r->params->value : "";
        for (int c = r->file != nullptr ? getc(r->file) : EOF; c != EOF && c != ')'; c = getc(r->file))
            body += char(c);
        e += ':';
        e += std::to_string(body.size());
    }
    log->events.push_back(e);
    return static_cast<int>(log->events.size()) == log->stopAt ? 0 : 1;
}

std::string header() {
    return std::string(kKvxBanner) + "\n" + kKvxVersionTag + " 1.0\nthird\nfourth\n";
}

}  // namespace

TEST(NameTrie, PrefixesAreTold) {
    NameTrie* t = nameTrieCreate();
    ASSERT_NE(t, nullptr);
    const struct {
        const char* name;
        int32_t index;
    } inserts[] = {{"P", 1}, {"Pset", 2}, {"P", 1}, {"Face", 3}, {"", 0}, {nullptr, 0}},
      finds[] = {{"P", 1}, {"Pset", 2}, {"Ps", 0}, {"Psets", 0}, {"Face", 3}, {"F", 0}, {"p", 0}, {"", 0}};
    for (const auto& c : inserts) EXPECT_EQ(nameTrieInsert(t, c.name), c.index);
    for (const auto& f : finds) EXPECT_EQ(nameTrieFind(t, f.name), f.index) << f.name;
    int32_t expect = 1;  // the index chain in ascending order
    for (const NameTrieNode* n = t->firstIndexed; n != nullptr; n = n->nextIndexed)
        EXPECT_EQ(n->index, expect++);
    nameTrieFree(t);
}

TEST(KvxEvent, HandlersByNameDefaultsAndStop) {
    writeTestFile("events.kvx",
                  header() +
                      "v scale(1000)\n{\nv scale(10)\no Pset[4]()\no Unknown[1]()\nm P[7](+1+2+3)\n"
                      "}\no Pset()\nm Other(abc)\nv base(16)\nm P[8](" +
                      std::string(6000, '7') + ")\no Pset[9]()\n");
    const std::vector<std::string> all = {"v scale=1000", "{",       "v scale=10", "o Pset:4",
                                          "m P:7:6",      "}",       "o Pset:1",   "v base=16",
                                          "m P:8:6000",   "o Pset:9"};
    for (int stopAt : {-1, 3, 5}) {
        Log log;
        log.stopAt = stopAt;
        KvxHandlerTable* t = kvxHandlerTableCreate(&log, logRecord, logRecord, logRecord);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(kvxOnObject(t, "P", kvxDefaultAccept), 1);
        EXPECT_EQ(kvxOnObject(t, "Pset", kvxDefaultAccept), 1);
        EXPECT_EQ(kvxOnObject(t, "Pset", logRecord), 1);  // replaced, same index
        EXPECT_EQ(nameTrieFind(t->objectNames, "Pset"), 2);
        EXPECT_EQ(kvxOnMethod(t, "P", logRecord), 1);
        EXPECT_EQ(kvxOnObject(t, "", logRecord), 0);
        EXPECT_EQ(kvxParseWithHandlers("events.kvx", t, nullptr), stopAt < 0 ? 1 : 0);
        EXPECT_EQ(log.events,
                  std::vector<std::string>(all.begin(), stopAt < 0 ? all.end() : all.begin() + stopAt));
        kvxHandlerTableFree(t);
    }
    Log log;
    KvxHandlerTable* t = kvxHandlerTableCreate(&log, nullptr, nullptr, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(kvxParseWithHandlers("absent.kvx", t, nullptr), 0);
    EXPECT_EQ(kvxParseWithHandlers("events.kvx", nullptr, nullptr), 0);
    EXPECT_EQ(kvxParseWithHandlers("events.kvx", t,
                                   [](const KvxHeader* h, void*) { return h->major == 1 ? 7 : 1; }),
              7);
    EXPECT_EQ(kvxParseWithHandlers("events.kvx", t, nullptr), 1);  // every default accepts
    char* base = kvxObjGetAttr(t->data, "base");
    ASSERT_NE(base, nullptr);
    EXPECT_STREQ(base, "16");
    std::free(base);
    kvxHandlerTableFree(t);
}
