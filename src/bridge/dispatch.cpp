#include "bridge/dispatch.h"

namespace tessivo {

void Dispatcher::add(std::string type, PayloadRule rule, Operation operation, Queue* queue) {
    entries_.push_back(Entry{std::move(type), rule, std::move(operation), queue});
}

bool Dispatcher::knows(const std::string& type) const {
    for (const auto& entry : entries_)
        if (entry.type == type) return true;
    return false;
}

bool Dispatcher::handleWebMessage(const Json& message) const {
    const Json* type = member(message, "type");
    if (!type || !type->is_string()) return false;
    const auto& name = type->get_ref<const std::string&>();
    for (const auto& entry : entries_) {
        if (entry.type != name) continue;
        Json payload = Json::object();
        if (entry.rule != PayloadRule::None) {
            const Json* given = member(message, "payload");
            bool isDictionary = given && given->is_object();
            if (entry.rule == PayloadRule::Required && !isDictionary) return false;
            if (isDictionary) payload = *given;
        }
        if (entry.queue) {
            entry.queue->post([operation = entry.operation, payload = std::move(payload)]() mutable {
                operation(std::move(payload));
            });
        } else {
            entry.operation(std::move(payload));
        }
        return true;
    }
    return false;
}

}  // namespace tessivo
