// Reading the cycle's parameter record the way a caller outside its family
// does: field by keyword, through the keyword table.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
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

// A number or triple as its shortest exact words ("10 20 30"), a text as it is.
inline std::string valueText(const CycleParams* p, const char* keyword) {
    const CycleKeywordRow& row = rowOf(keyword);
    if (row.storeType == kStoreText) return textOf(p, keyword);
    std::string v;
    char number[64];
    for (int c = 0; c < (row.storeType == kStoreTriple ? 3 : 1); ++c) {
        const double x = numberOf(p, keyword, c);
        snprintf(number, sizeof number, "%.15g", x);
        if (strtod(number, nullptr) != x) snprintf(number, sizeof number, "%.17g", x);
        v += (c ? " " : "") + std::string(number);
    }
    return v;
}

// Every keyword with its value as text, in table order: equal lists mean equal settings.
inline std::vector<std::string> snapshotOf(const CycleParams* p) {
    std::vector<std::string> all;
    for (int i = 0; CycleKeywordTable[i].keyword; ++i)
        all.push_back(std::string(CycleKeywordTable[i].keyword) + " " +
                      valueText(p, CycleKeywordTable[i].keyword));
    return all;
}

namespace paramtest {

using Pairs = std::vector<std::pair<const char*, const char*>>;

// The pairs as the kernel's word-pair list hands them over, applied to the cycle's record.
inline int applyPairs(const Pairs& pairs) {
    KvList* list = nullptr;
    for (const auto& [key, value] : pairs) list = kvListAppend(list, key, value, kKvFile);
    const int rc = applyKeyValueList(list);
    kvListFree(list);
    return rc;
}

}  // namespace paramtest
using namespace paramtest;

inline void writeFile(const char* name, const std::string& content) {
    FILE* f = fopen(name, "wb");
    ASSERT_NE(f, nullptr);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
}
