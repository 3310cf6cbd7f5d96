#include "kernel/base/kvx/kvxfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kernel/base/cfgfile.h"
#include "kernel/testfiles.h"

namespace {

std::string header(const char* version = "1.0") {
    return std::string(kKvxBanner) + "\n" + kKvxVersionTag + " " + version + "\nthird\nfourth\n";
}

// "key=value" per parameter ("=value" for a body, "key" without a value), joined by "|".
std::string paramsText(const KvxRecord& r) {
    std::string out;
    for (const KvxParam* p = r.params; p; p = p->next) {
        if (!out.empty()) out += "|";
        if (p->key) out += p->key;
        if (p->value) out += std::string("=") + p->value;
    }
    return out;
}

struct Read {
    std::vector<int> results;
    std::vector<std::string> records;  // "type name id {params}"
};

Read readAll(const std::string& body, const char* name = "records.kvx") {
    writeTestFile(name, header() + body);
    Read out;
    KvxHeader h{};
    FILE* f = kvxOpen(name, &h);
    if (!f) return out;
    KvxRecord r{};
    for (int n = 0; n < 20; ++n) {
        int result = kvxReadRecord(f, &r);
        out.results.push_back(result);
        if (!result) break;
        out.records.push_back(std::string(1, static_cast<char>(r.type)) + " " + (r.name ? r.name : "-") +
                              " " + (r.id ? r.id : "-") + " {" + paramsText(r) + "}");
    }
    kvxRecordReset(&r);
    cfgFileClose(f);
    kvxHeaderFree(&h);
    return out;
}

}  // namespace

TEST(KvxFile, HeaderVersionsAndBanner) {
    const std::string banner = kKvxBanner;
    const std::string tag = kKvxVersionTag;
    struct Case {
        std::string text;
        bool accepted;
        int major, minor;
    } cases[] = {
        {header("1.1"), false, 0, 0},
        {header("0.9"), true, 0, 9},
        {header("1.0"), true, 1, 0},
        {header("2.0"), false, 0, 0},
        {header("x.y"), true, 0, 0},  // unreadable numbers count as 0.0
        {header("3"), true, 0, 0},
        {banner + " \t\n" + tag + "1.0\nthird\n", true, 1, 0},  // trailing blanks; no fourth line
        {banner + " x\n" + tag + "1.0\nthird\nfourth\n", false, 0, 0},
        {"\n\n  " + banner + "\r\n\r\n" + tag + " 0.1\r\nthird\r\nfourth\r\n", true, 0, 1},
        {banner + "\nVersion: 1.0\nthird\nfourth\n", false, 0, 0},
        {banner + "\n" + tag + " 1.0\n", false, 1, 0},  // no third line
        {banner + "\n" + tag + " -1.0\nthird\n", false, 0, 0},
        {banner + "\n" + tag + " 65537.0\nthird\n", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const auto& c : cases) {
        writeTestFile("header.kvx", c.text);
        KvxHeader h{};
        FILE* f = kvxOpen("header.kvx", &h);
        EXPECT_EQ(f != nullptr, c.accepted) << c.text;
        if (f) {
            EXPECT_EQ(h.major, c.major) << c.text;
            EXPECT_EQ(h.minor, c.minor) << c.text;
            EXPECT_STREQ(h.line3, "third") << c.text;
            cfgFileClose(f);
        }
        kvxHeaderFree(&h);
    }
}

TEST(KvxFile, HeaderLinesAreKeptAndOpenNeedsAHeader) {
    writeTestFile("lines.kvx", header());
    KvxHeader h{};
    h.major = 7;
    EXPECT_EQ(kvxOpen("lines.kvx", nullptr), nullptr);
    EXPECT_EQ(kvxOpen("no-such.kvx", &h), nullptr);
    FILE* f = kvxOpen("lines.kvx", &h);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(h.line3, "third");
    EXPECT_STREQ(h.line4, "fourth");
    EXPECT_EQ(h.major, 1);
    cfgFileClose(f);
    kvxHeaderFree(&h);
    EXPECT_EQ(h.line3, nullptr);
}

TEST(KvxFile, RecordsOfEachKind) {
    struct Case {
        const char* text;
        const char* record;
    } cases[] = {
        {"o Face(vx[3/4/5] n[1])", "o Face - {vx=3/4/5|n=1}"},
        {"o Pset [ 1 2 ] (p[1])", "o Pset 12 {p=1}"},
        {"o Pset[\n(p[1])", "o Pset - {p=1}"},  // a line end closes an empty identifier
        {"o Tx(t[ two  words ] u[ a b ])", "o Tx - {t= two  words |u=a b}"},
        {"o E(k[] t[])", "o E - {k|t=}"},
        {"o C ; note\n (x\n[1] y [2])", "o C - {x=1|y=2}"},
        {"m data[7](abc)", "m data 7 {=abc}"},
        {"m data (...)", "m data - {=...}"},
        {"m body( a\r\n b )", "m body - {= a\n b }"},
        {"v base(10)", "v base 10 {}"},
        {"v text(a\\]b)", "v text a]b {}"},
        {"v s(\\065BC)", "v s ABC {}"},
        {"v s(\\0651)", "v s A1 {}"},
        {"v s(x\nv t(1)", "v s x {}"},
        {"v c(a;b)", "v c a;b {}"},
        {"v w (  two words  )", "v w two words {}"},
        {"v e(\\))", "v e ) {}"},
        {"; top comment\nv a(1)", "v a 1 {}"},
        {"{", "{ - - {}"},
        {"}", "} - - {}"},
    };
    for (const auto& c : cases) {
        Read r = readAll(c.text);
        ASSERT_FALSE(r.records.empty()) << c.text;
        EXPECT_EQ(r.records[0], c.record) << c.text;
    }
}

TEST(KvxFile, ErrorsAndEndOfFileEndTheReading) {
    struct Case {
        const char* text;
        std::vector<int> results;
    } cases[] = {
        {"v a(1)\n; last comment", {1, 0}},  // end of file in a top-level comment: no error
        {"v a(1)\n`", {1, 0}},
        {"o (x[1])", {0}},
        {"o A(x[1]", {0}},  // end of file inside the record
        {"o A ; open comment", {0}},
        {"o A(x[1]`)", {0}},
        {"o A(x y[1])", {0}},
        {"v (1)", {0}},
        {"v a;x\n(1)", {1, 0}},
        {"m (x)", {0}},
        {"m a(", {0}},
        {"m a(x`)", {0}},
        {"o A[1 2]x", {0}},
        {"v a(1)\x1a v b(2)", {1, 0}},  // byte 26 ends the file
        {"", {0}},
    };
    for (const auto& c : cases) {
        Read r = readAll(c.text);
        EXPECT_EQ(r.results, c.results) << c.text;
    }
}

TEST(KvxFile, FailedReadLeavesAnEmptyRecord) {
    writeTestFile("fail.kvx", header() + "v a(1)\no A(x[1]");
    KvxHeader h{};
    FILE* f = kvxOpen("fail.kvx", &h);
    ASSERT_NE(f, nullptr);
    KvxRecord r{};
    EXPECT_EQ(kvxReadRecord(f, &r), 1);
    EXPECT_EQ(kvxReadRecord(f, &r), 0);
    EXPECT_EQ(r.type, 0);
    EXPECT_EQ(r.name, nullptr);
    EXPECT_EQ(r.id, nullptr);
    EXPECT_EQ(r.params, nullptr);
    EXPECT_EQ(r.bodyStart, -1);
    EXPECT_EQ(kvxReadRecord(nullptr, &r), 0);
    EXPECT_EQ(kvxReadRecord(f, nullptr), 0);
    kvxRecordReset(&r);
    kvxRecordReset(nullptr);
    cfgFileClose(f);
    kvxHeaderFree(&h);
}

TEST(KvxFile, LongMethodBodiesStayInTheFile) {
    for (size_t length : {kKvxBodyMax - 1, kKvxBodyMax, kKvxBodyMax + 1, 3 * kKvxBodyMax}) {
        std::string body;
        for (size_t i = 0; i < length; ++i) body += static_cast<char>('a' + i % 26);
        std::string prefix = header() + "m big(";
        writeTestFile("body.kvx", prefix + body + ")\nv after(1)\n");
        KvxHeader h{};
        FILE* f = kvxOpen("body.kvx", &h);
        ASSERT_NE(f, nullptr);
        KvxRecord r{};
        ASSERT_EQ(kvxReadRecord(f, &r), 1) << length;
        if (length <= kKvxBodyMax) {
            ASSERT_NE(r.params, nullptr) << length;
            EXPECT_EQ(r.params->key, nullptr);
            EXPECT_EQ(std::string(r.params->value), body);
            EXPECT_EQ(r.file, nullptr);
            EXPECT_EQ(r.bodyStart, -1);
            EXPECT_EQ(r.bodyEnd, -1);
        } else {
            EXPECT_EQ(r.params, nullptr) << length;
            EXPECT_EQ(r.file, f);
            EXPECT_EQ(r.bodyStart, static_cast<int64_t>(prefix.size()));
            EXPECT_EQ(r.bodyEnd, static_cast<int64_t>(prefix.size() + length + 1));
            // The caller reads the body from the file between the offsets.
            int64_t resume = ftello(f);
            std::string kept(static_cast<size_t>(r.bodyEnd - r.bodyStart - 1), '\0');
            fseeko(f, r.bodyStart, SEEK_SET);
            ASSERT_EQ(fread(kept.data(), 1, kept.size(), f), kept.size());
            EXPECT_EQ(kept, body);
            fseeko(f, resume, SEEK_SET);
        }
        ASSERT_EQ(kvxReadRecord(f, &r), 1);
        EXPECT_STREQ(r.name, "after");
        kvxRecordReset(&r);
        cfgFileClose(f);
        kvxHeaderFree(&h);
    }
}

TEST(KvxFile, MethodNamesEndedByBlankOrCommentAreTraced) {
    writeTestFile("QJW.TXT", "earlier\n");
    Read r = readAll("m data (x)\nm other[2](y)\nm next(z)\nm last;c\n(w)\nm nl\n(v)\n");
    EXPECT_EQ(r.results, (std::vector<int>{1, 1, 1, 1, 1, 0}));
    EXPECT_EQ(readTestFile("QJW.TXT"), "earlier\n methode = 'data'\n methode = 'last'\n methode = 'nl'\n");
    std::remove("QJW.TXT");
}

TEST(KvxFile, ZeroBytesArePassedOver) {
    const char text[] = "o P(t[a\0b] x[1])\nv w(c\\\0d)\n\0m M(x\0y)\n";
    Read got = readAll(std::string(text, sizeof text - 1));
    EXPECT_EQ(got.records, (std::vector<std::string>{"o P - {t=ab|x=1}", "v w cd {}", "m M - {=xy}"}));
}

TEST(KvxFile, ARefusedHeaderLeavesNoTexts) {
    for (const char* version : {"2.0", "1.1"}) {
        writeTestFile("refused.kvx", header(version));
        KvxHeader h{};
        EXPECT_EQ(kvxOpen("refused.kvx", &h), nullptr) << version;
        EXPECT_EQ(h.line3, nullptr) << version;
        EXPECT_EQ(h.line4, nullptr) << version;
        EXPECT_EQ(h.major, version[0] - '0') << version;  // the refused version stays readable
    }
}
