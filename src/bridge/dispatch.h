// The dispatch of editor messages.
//
// An envelope is {"type": text, "payload": dictionary}. Entries are compared in
// the order they were added; the first entry whose type equals the message's
// type (exactly, case-sensitive) decides. A message with no text type, an
// unknown type, or a missing or non-dictionary payload where the entry
// requires one is dropped without an answer.
#pragma once

#include "platform/json.h"
#include "platform/queue.h"

#include <functional>
#include <string>
#include <vector>

namespace tessivo {

enum class PayloadRule {
    Required,       // absent or not a dictionary: the message is dropped
    EmptyIfAbsent,  // absent or not a dictionary: an empty dictionary
    None,           // the payload is not read
};

class Dispatcher {
public:
    using Operation = std::function<void(Json payload)>;

    // `queue` nullptr: the operation is called directly on the main thread;
    // otherwise it is posted to that serial queue.
    void add(std::string type, PayloadRule rule, Operation operation, Queue* queue = nullptr);

    // Main thread. Returns whether an entry took the message (for logs and tests).
    bool handleWebMessage(const Json& message) const;

    bool knows(const std::string& type) const;

private:
    struct Entry {
        std::string type;
        PayloadRule rule;
        Operation operation;
        Queue* queue;
    };
    std::vector<Entry> entries_;
};

}  // namespace tessivo
