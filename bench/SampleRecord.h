#pragma once
// The record the store benchmarks write over and over: a company with every field filled.

#include "store/MemberRecord.h"
#include "text/GbkCodec.h"

inline store::MemberRecord SampleRecord() {
    auto g = [](const char* s) { return text::Utf8ToGbk(s); };
    return store::MemberRecord{g("广州化工有限公司"),
                               g("陈明"),
                               g("先生"),
                               g("销售经理"),
                               "13800138000",
                               "86-020-12345678",
                               "86-020-12345679",
                               g("广州市天河区黄埔大道100号"),
                               "510000"};
}
