// Workers report to the window by sending one UiMessage each through a
// MessageSink; the window drains them in order on its own thread. Progress is
// not sent this way: workers publish it in shared records of atomic fields.
#pragma once

#include <variant>

#include "http/release_info.h"

namespace sw {

// Each subsystem adds the records it sends as alternatives here.
using UiMessage = std::variant<std::monostate, ReleaseInfoMessage, DownloadFinishedMessage,
                               UpdateNoticeMessage>;

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Called from any worker thread; must not block for long.
    virtual void send(UiMessage message) = 0;
};

}  // namespace sw
