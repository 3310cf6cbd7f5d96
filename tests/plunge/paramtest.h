// Reading the cycle's parameter record the way a caller outside its family
// does: field by keyword, through the keyword table.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plunge/cycparams.h"
#include "workfolder.h"

inline const CycleKeywordRow& rowOf(const char* keyword) {
    int index = findKeyword(keyword);
    EXPECT_GE(index, 0) << keyword;
    return CycleKeywordTable[index < 0 ? 0 : index];
}

inline double numberOf(const CycleParams* p, const char* keyword, int component = 0) {
    const CycleKeywordRow& row = rowOf(keyword);
    const char* base = reinterpret_cast<const char*>(p) + row.field;
    switch (row.storeType) {
        case kStoreInt16: {
            int16_t v;
            memcpy(&v, base, sizeof v);
            return v;
        }
        case kStoreInt32: {
            int32_t v;
            memcpy(&v, base, sizeof v);
            return v;
        }
        case kStoreDouble:
        case kStoreTriple: {
            double v;
            memcpy(&v, base + component * sizeof(double), sizeof v);
            return v;
        }
        default:
            ADD_FAILURE() << keyword << " is a text";
            return 0;
    }
}

inline std::string textOf(const CycleParams* p, const char* keyword) {
    const CycleKeywordRow& row = rowOf(keyword);
    EXPECT_EQ(row.storeType, kStoreText) << keyword;
    return std::string(reinterpret_cast<const char*>(p) + row.field);
}

// Every keyword with its value as text, in table order: equal lists mean equal settings.
inline std::vector<std::string> snapshotOf(const CycleParams* p) {
    std::vector<std::string> all;
    for (int i = 0; CycleKeywordTable[i].keyword; ++i) {
        const CycleKeywordRow& row = CycleKeywordTable[i];
        std::string v = std::string(row.keyword) + " ";
        char number[64];
        if (row.storeType == kStoreText) {
            v += textOf(p, row.keyword);
        } else {
            for (int c = 0; c < (row.storeType == kStoreTriple ? 3 : 1); ++c) {
                snprintf(number, sizeof number, "%.17g ", numberOf(p, row.keyword, c));
                v += number;
            }
        }
        all.push_back(v);
    }
    return all;
}

inline void writeFile(const char* name, const std::string& content) {
    FILE* f = fopen(name, "wb");
    ASSERT_NE(f, nullptr);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
}
