#include "store/PgRecordStore.h"
#include "store/RecordStore.h"

std::unique_ptr<IRecordStore> OpenStore(const std::string& location) {
    if (IsPostgresLocation(location)) {
        return std::make_unique<PgRecordStore>(location);
    }
    return std::make_unique<RecordStore>(location);
}
