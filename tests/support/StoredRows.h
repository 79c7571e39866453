#pragma once
// Every stored row in id order as its nine texts (UTF-8, as the store holds them).

#include <string>
#include <vector>

#include "store/RecordStore.h"

inline std::vector<MemberRecord> StoredRows(IRecordStore& store) {
    std::vector<MemberRecord> rows;
    store.ForEachMemberRow([&](const RecordStore::RawRow& raw) {
        MemberRecord r;
        auto f = r.Fields();
        for (size_t i = 0; i < raw.size(); ++i) {
            *f[i] = std::string(raw[i]);
        }
        rows.push_back(r);
    });
    return rows;
}
