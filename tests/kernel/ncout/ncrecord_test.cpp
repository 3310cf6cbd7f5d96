#include "kernel/ncout/ncrecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ncdecode.h"

namespace {

// Writers of raw test records at the offsets of the layout tables, by number.
void putI32(unsigned char* r, int off, int32_t v) {
    for (int i = 0; i < 4; ++i) r[off + i] = static_cast<unsigned char>(static_cast<uint32_t>(v) >> (8 * i));
}
void putF64(unsigned char* r, int off, double v) {
    uint64_t b;
    memcpy(&b, &v, 8);
    for (int i = 0; i < 8; ++i) r[off + i] = static_cast<unsigned char>(b >> (8 * i));
}

}  // namespace

TEST(NcRecord, FieldsAreLittleEndianAtTheirOffsets) {
    NcRecord rec;
    memset(rec.bytes, 0xAB, sizeof rec.bytes);
    ncRecClear(&rec);
    for (unsigned char b : rec.bytes) ASSERT_EQ(b, 0);
    ncRecPutI32(&rec, 0, 3107);
    EXPECT_EQ(rec.bytes[0], 0x23);
    EXPECT_EQ(rec.bytes[1], 0x0C);
    ncRecPutI32(&rec, 8, -2);
    EXPECT_EQ(rec.bytes[8], 0xFE);
    EXPECT_EQ(rec.bytes[11], 0xFF);
    ncRecPutF64(&rec, 24, 1.0);  // 0x3FF0000000000000
    EXPECT_EQ(rec.bytes[31], 0x3F);
    EXPECT_EQ(rec.bytes[30], 0xF0);
    EXPECT_EQ(ncRecGetI32(&rec, 0), 3107);
    EXPECT_EQ(ncRecGetI32(&rec, 8), -2);
    EXPECT_EQ(ncRecGetU32(&rec, 8), 0xFFFFFFFEu);
    EXPECT_EQ(ncRecGetF64(&rec, 24), 1.0);
    ncRecPutU32(&rec, KVNC_BLOCK_NUMBER, 4000000000u);
    EXPECT_EQ(ncRecGetU32(&rec, KVNC_BLOCK_NUMBER), 4000000000u);
}

TEST(NcRecord, TextsAreCutToTheirFieldAndTerminated) {
    NcRecord rec;
    memset(rec.bytes, 'Q', sizeof rec.bytes);
    std::string longText(400, 'x');
    ncRecPutText(&rec, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, longText.c_str());
    EXPECT_EQ(rec.bytes[KVNC_TEXT_NAME + 254], 'x');
    EXPECT_EQ(rec.bytes[KVNC_TEXT_NAME + 255], 0);
    EXPECT_EQ(rec.bytes[KVNC_TEXT_VALUE], 'Q');  // the neighbour field is untouched
    ncRecPutText(&rec, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, "ab");
    for (int i = 2; i < KVNC_TEXT_SIZE; ++i) ASSERT_EQ(rec.bytes[KVNC_TEXT_VALUE + i], 0);
    ncRecPutText(&rec, KVNC_BLOCK_TEXT3, KVNC_BLOCK_TEXT_SIZE, nullptr);
    EXPECT_EQ(rec.bytes[KVNC_BLOCK_TEXT3], 0);
    char buf[KVNC_TEXT_SIZE];
    EXPECT_EQ(std::string(ncRecGetText(&rec, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, buf)), std::string(255, 'x'));
    memset(rec.bytes + KVNC_TEXT_NAME, 'y', KVNC_TEXT_SIZE);  // unterminated field
    EXPECT_EQ(strlen(ncRecGetText(&rec, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, buf)), 255u);
}

// The host header's offsets and kvhost's decoder against records built at the
// byte offsets of the layout tables.
TEST(NcDecode, DecodesEachLayoutFromTheTableOffsets) {
    struct Case {
        int32_t channel;
        int32_t type;
        void (*fill)(unsigned char*);
        const char* line;
    } cases[] = {
        {0, 103,
         [](unsigned char* r) {
             memcpy(r + 8, "cycle", 5);
             memcpy(r + 264, "T \"q\"", 5);
         },
         "ch=0 type=103 name=\"cycle\" value=\"T \\\"q\\\"\""},
        {12, 5001,
         [](unsigned char* r) {
             putI32(r, 8, 7);
             putI32(r, 12, 1);
             memcpy(r + 272, "two", 3);
             memcpy(r + 528, "three", 5);
         },
         "ch=12 type=5001 number=7 kind=1 text1=\"\" text2=\"two\" text3=\"three\""},
        {12, 5004, [](unsigned char*) {}, "ch=12 type=5004"},
        {31, 3101,
         [](unsigned char* r) {
             putF64(r, 40, 1.5);
             putF64(r, 48, -2);
         },
         "ch=31 type=3101 x=1.5 y=-2"},
        {31, 3102, [](unsigned char* r) { putF64(r, 56, 3); }, "ch=31 type=3102 z=3"},
        {41, 3113,
         [](unsigned char* r) {
             putF64(r, 40, 1);
             putF64(r, 48, 2);
             putF64(r, 56, 3);
         },
         "ch=41 type=3113 x=1 y=2 z=3"},
        {31, 3109,
         [](unsigned char* r) {
             putI32(r, 8, 1);
             putI32(r, 16, 1);
             putF64(r, 24, 10);
             putF64(r, 32, 20);
             putF64(r, 40, 30);
             putI32(r, 56, 1);
             putF64(r, 64, 0.5);
             putF64(r, 72, 0.25);
             putF64(r, 80, 0.125);
         },
         "ch=31 type=3109 fx=1 fy=0 fz=1 x=10 y=20 z=30 fi=0 fj=0 fk=1 i=0.5 j=0.25 k=0.125"},
        {31, 3121,
         [](unsigned char* r) {
             putI32(r, 8, 1);
             putF64(r, 40, 4);
             putF64(r, 48, 5);
             putF64(r, 64, 6);
             putF64(r, 72, 7);
         },
         "ch=31 type=3121 cw=1 x=4 y=5 cx=6 cy=7"},
        {3, 3104,
         [](unsigned char* r) {
             putI32(r, 8, 1);
             putF64(r, 40, 1);
             putF64(r, 48, 2);
             putF64(r, 56, 3);
             putF64(r, 80, 4);
         },
         "ch=3 type=3104 x=1 y=2 z=3 w=4"},
        {32, 4001,
         [](unsigned char* r) {
             putF64(r, 8, 1);
             putF64(r, 16, 2);
         },
         "ch=32 type=4001 x=1 y=2"},
        {32, 4005, [](unsigned char* r) { putF64(r, 24, 9); }, "ch=32 type=4005 z=9"},
        {32, 4008,
         [](unsigned char* r) {
             putF64(r, 8, 1);
             putF64(r, 16, 2);
             putF64(r, 32, 3);
             putF64(r, 40, 4);
         },
         "ch=32 type=4008 x=1 y=2 cx=3 cy=4"},
        {42, 7001,
         [](unsigned char* r) {
             for (int off : {16, 40, 64}) {
                 putF64(r, off, 1);
                 putF64(r, off + 8, 2);
                 putF64(r, off + 16, 3);
             }
         },
         "ch=42 type=7001 x=1 y=2 z=3"},
        {42, 7001, [](unsigned char* r) { putF64(r, 64, 1); }, "ch=42 type=7001 x=0 y=0 z=0 (copies differ)"},
        {0, 9999, [](unsigned char*) {}, "ch=0 type=9999 (no decoded layout)"},
    };
    for (const auto& c : cases) {
        unsigned char r[KVNC_RECORD_SIZE] = {};
        putI32(r, 0, c.type);
        c.fill(r);
        EXPECT_EQ(ncDecodeRecord(c.channel, r), c.line);
    }
}

TEST(NcDecode, UnterminatedTextIsShownAndMarked) {
    unsigned char r[KVNC_RECORD_SIZE] = {};
    putI32(r, 0, 1001);
    memset(r + 8, 'a', 256);
    std::string line = ncDecodeRecord(2, r);
    EXPECT_NE(line.find(std::string(256, 'a') + "\"(unterminated)"), std::string::npos);
    EXPECT_NE(line.find("value=\"\""), std::string::npos);
}
