#pragma once
// The layout of the tables this program writes. A store records the version that last
// upgraded it; a program that meets a newer one refuses it instead of writing rows in a layout
// it does not know. Stores written before versions were recorded are version 1; version 2
// folds full-width forms in the filter's index; version 3 keeps the names of settings and the
// searches of a shared database unique by their digests (texts of any length); version 4 keeps
// a failed contact page once per row that waits for it.

namespace store {

inline constexpr int kSchemaVersion = 4;
// The T_CONFIG row that holds it.
inline constexpr const char* kSchemaVersionItem = "schemaversion";
inline constexpr const char* kNewerSchemaMessage = "数据库由较新版本的采集器创建，请升级";

}  // namespace store
