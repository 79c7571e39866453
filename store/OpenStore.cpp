#include "store/PgRecordStore.h"
#include "store/RecordStore.h"

namespace store {

std::unique_ptr<IRecordStore> OpenStore(const std::string& location,
                                        const std::atomic<bool>* interrupt) {
    if (IsPostgresLocation(location)) {
        return std::make_unique<PgRecordStore>(location, interrupt);
    }
    return std::make_unique<RecordStore>(location);
}

}  // namespace store
