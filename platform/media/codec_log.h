// The codec libraries print to stderr on their own. A command-line tool reports their errors in
// its own messages, so it turns that output down; QUILLVANE_LOG=debug or info keeps it.
// Thread safety: call once at start-up, before any media work.
#pragma once

namespace qv::platform::media {

void quietCodecLogs();

} // namespace qv::platform::media
