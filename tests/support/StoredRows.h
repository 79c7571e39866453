#pragma once
// Every stored row in id order as its nine texts (UTF-8, as the store holds them).

#include <string>
#include <vector>

#include "store/RecordStore.h"

inline std::vector<store::MemberRecord> StoredRows(store::IRecordStore& store) {
    std::vector<store::MemberRecord> rows;
    store.ForEachMemberRow([&](const store::RecordStore::RawRow& raw) {
        store::MemberRecord r;
        auto f = r.Fields();
        for (size_t i = 0; i < raw.size(); ++i) {
            *f[i] = std::string(raw[i]);
        }
        rows.push_back(r);
    });
    return rows;
}
