#include "platform/media/media_error.h"

#include <cerrno>
#include <exception>
#include <new>
#include <string_view>
#include <system_error>

namespace qv::platform::media {

MediaError currentExceptionAsError() noexcept {
    try {
        try {
            throw;
        } catch (const std::bad_alloc &) {
            return MediaError::notEnoughMemory();
        } catch (const std::system_error &e) {
            // Thread creation reports EAGAIN when no more threads (or their stacks) fit.
            const int code = e.code().value();
            if (code == EAGAIN || code == ENOMEM) return MediaError::notEnoughMemory();
            return MediaError::failure(std::string("Unexpected failure: ") + e.what());
        } catch (const std::exception &e) {
            const std::string_view what = e.what();
            if (what.find("Insufficient memory") != std::string_view::npos ||
                what.find("pthread_create") != std::string_view::npos ||
                what.find("Failed to allocate") != std::string_view::npos)
                return MediaError::notEnoughMemory();
            return MediaError::failure(std::string("Unexpected failure: ") + e.what());
        } catch (...) {
            return MediaError::failure("Unexpected failure");
        }
    } catch (...) {
        // Building the message itself ran out of memory.
        return MediaError{MediaError::Code::failed, {}};
    }
}

} // namespace qv::platform::media
