#include "bridge/dispatch.h"

#include "platform/log.h"

namespace tessivo {

Dispatcher::Dispatcher(Queue& exportQueue, Queue& timelineWatchQueue, std::span<const MessageType> types)
    : exportQueue_(exportQueue), timelineWatchQueue_(timelineWatchQueue) {
    entries_.reserve(types.size());
    for (const auto& type : types) entries_.push_back(Entry{type, nullptr});
}

const Dispatcher::Entry* Dispatcher::find(std::string_view type) const {
    for (const auto& entry : entries_)
        if (entry.type.type == type) return &entry;
    return nullptr;
}

bool Dispatcher::setOperation(std::string_view type, Operation operation) {
    for (auto& entry : entries_) {
        if (entry.type.type != type) continue;
        entry.operation = std::move(operation);
        return true;
    }
    logLine("Opération sans type de message correspondant : " + std::string(type));
    return false;
}

bool Dispatcher::knows(std::string_view type) const { return find(type) != nullptr; }

bool Dispatcher::hasOperation(std::string_view type) const {
    const Entry* entry = find(type);
    return entry && entry->operation;
}

Dispatcher::Outcome Dispatcher::handleWebMessage(const Json& message) const {
    const Json* type = member(message, "type");
    if (!type || !type->is_string()) return Outcome::Ignored;
    const Entry* entry = find(type->get_ref<const std::string&>());
    if (!entry) return Outcome::Ignored;

    Json payload = Json::object();
    if (entry->type.payload != PayloadRule::None) {
        const Json* given = member(message, "payload");
        bool isDictionary = given && given->is_object();
        if (entry->type.payload == PayloadRule::Required && !isDictionary) return Outcome::Ignored;
        if (isDictionary) payload = *given;
    }
    if (!entry->operation) {
        logLine("Message « " + std::string(entry->type.type) + " » : pas encore disponible dans cette version");
        return Outcome::NotAvailable;
    }
    switch (entry->type.queue) {
    case QueuePlacement::Main:
        entry->operation(std::move(payload));
        break;
    case QueuePlacement::Export:
    case QueuePlacement::TimelineWatch: {
        Queue& queue = entry->type.queue == QueuePlacement::Export ? exportQueue_ : timelineWatchQueue_;
        queue.post([operation = entry->operation, payload = std::move(payload)]() mutable {
            operation(std::move(payload));
        });
        break;
    }
    }
    return Outcome::Started;
}

}  // namespace tessivo
