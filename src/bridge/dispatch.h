// The dispatch of editor messages.
//
// An envelope is {"type": text, "payload": dictionary}. The dispatcher lists a
// table of message types (the protocol's, messageTypes(), unless a test gives
// its own) and compares them in order; the first entry whose type equals the
// message's type (exactly, case-sensitive) decides. A message with no text
// type, an unknown type, or a missing or non-dictionary payload where the
// entry requires one is dropped without an answer. A listed type that has no
// operation yet is logged as not available and answered by nobody.
#pragma once

#include "bridge/message_types.h"
#include "platform/json.h"
#include "platform/queue.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessivo {

class Dispatcher {
public:
    using Operation = std::function<void(Json payload)>;

    // Operations placed on the export or timeline-watch queue are posted there;
    // the others are called directly on the main thread.
    Dispatcher(Queue& exportQueue, Queue& timelineWatchQueue,
               std::span<const MessageType> types = messageTypes());

    // Main thread, before the first message. Gives `type` its operation. False,
    // and nothing changes, when the table does not list `type`.
    bool setOperation(std::string_view type, Operation operation);

    enum class Outcome {
        Started,       // the operation was called or queued
        NotAvailable,  // a listed type without an operation: logged
        Ignored,       // no text type, an unknown type, or a payload the entry refuses
    };
    // Main thread.
    Outcome handleWebMessage(const Json& message) const;

    bool knows(std::string_view type) const;
    bool hasOperation(std::string_view type) const;

private:
    struct Entry {
        MessageType type;
        Operation operation;
    };
    const Entry* find(std::string_view type) const;

    Queue& exportQueue_;
    Queue& timelineWatchQueue_;
    std::vector<Entry> entries_;
};

}  // namespace tessivo
