// The handle of one listing, from FsFindFirstW to FsFindClose.
#pragma once

#include <cstdint>
#include <memory>

#include "plugin/registry.h"

namespace vodarezazuv {

struct ListingCursor;

struct FindHandle {
    ListingCursor* cursor = nullptr;       // the remote listing; none for the root
    Connection* connection = nullptr;      // owned by the registry
    std::shared_ptr<RegistryEntry> entry;  // the root listing's current connection entry
    int32_t rootPending = 0;               // 1: the connection entries have not been started
};

}  // namespace vodarezazuv
