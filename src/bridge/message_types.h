// Every message type the editor may post, in the order the dispatcher compares
// them, with what the dispatcher does with the payload and where the operation
// runs. The engine gives operations to the types it has built; the others are
// still recognised and only logged as not available yet.
#pragma once

#include <span>
#include <string_view>

namespace tessivo {

enum class PayloadRule {
    Required,       // absent or not a dictionary: the message is dropped
    EmptyIfAbsent,  // absent or not a dictionary: an empty dictionary
    None,           // the payload is not read
};

enum class QueuePlacement {
    Main,           // called directly on the main thread; the operation moves its own slow work
    Export,         // posted to the export queue
    TimelineWatch,  // posted to the timeline-watch queue
};

struct MessageType {
    std::string_view type;
    PayloadRule payload;
    QueuePlacement queue;
};

// The whole protocol, in comparison order.
std::span<const MessageType> messageTypes();

// Names used in logs and in the protocol's written list:
// "required" / "empty-if-absent" / "none", and "main" / "export" / "timeline-watch".
std::string_view payloadRuleName(PayloadRule rule);
std::string_view queuePlacementName(QueuePlacement placement);

}  // namespace tessivo
