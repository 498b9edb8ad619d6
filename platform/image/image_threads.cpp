// QV_IMAGE_THREADS=1 keeps every image loop on the calling thread. ThreadSanitizer cannot see the
// hand-offs inside OpenCV's thread pool (TBB is not built with it), so its runs set this to check
// our own threads without hundreds of false reports.
#include <opencv2/core/utility.hpp>

#include <cstdlib>
#include <cstring>

namespace qv::platform {

namespace {

const bool imageLoopsOnCallingThread = [] {
    const char *value = std::getenv("QV_IMAGE_THREADS");
    if (!value || std::strcmp(value, "1") != 0) return false;
    cv::setNumThreads(0);
    return true;
}();

} // namespace

bool imageLoopsStayOnCallingThread() noexcept {
    return imageLoopsOnCallingThread;
}

} // namespace qv::platform
