#include "vhost/foundation/last_error.hpp"

#include "host/storage.hpp"

namespace vhost {
namespace {

struct LastErrorRecord {
    std::shared_ptr<const host::UserException> error;
};

host::storage::Key lastErrorKey() {
    static const host::storage::Key key = host::storage::getNextID(typeid(LastErrorRecord));
    return key;
}

}  // namespace

void recordLastError(const host::UserException& error) {
    std::shared_ptr<const host::UserException> copy(error.clone());
    host::storage::getOrCreate<LastErrorRecord>(lastErrorKey()).error = std::move(copy);
}

std::shared_ptr<const host::UserException> lastError() {
    auto* record = host::storage::find<LastErrorRecord>(lastErrorKey());
    return record ? record->error : nullptr;
}

void clearLastError() { host::storage::erase(lastErrorKey(), typeid(LastErrorRecord)); }

}  // namespace vhost
