// No exception reaches the host: inside an export, a failure that throws (memory running
// out in a container) becomes the export's failure value.
#pragma once

namespace vodarezazuv {

template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace vodarezazuv
