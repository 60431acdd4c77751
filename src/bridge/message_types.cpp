#include "bridge/message_types.h"

namespace tessivo {

namespace {

using enum PayloadRule;
using enum QueuePlacement;

constexpr MessageType kMessageTypes[] = {
    {"startRender", Required, Main},
    {"importResolveSubtitles", EmptyIfAbsent, Main},
    {"exportToResolve", Required, Main},
    {"exportResolveSmart", Required, Main},
    // The two below refuse while a render runs, then move their work to the export queue themselves.
    {"exportResolveHTML", Required, Main},
    {"exportResolveLottie", Required, Main},
    {"exportResolveStillPreview", EmptyIfAbsent, Main},
    {"fusionLibraryLoad", None, Export},
    {"fusionSharedLibraryCreate", None, Main},
    {"fusionSharedLibraryScan", None, Main},
    {"fusionTimelineLoad", EmptyIfAbsent, Export},
    {"fusionTimelineSeek", Required, Export},
    {"fusionTimelineWatchStart", None, Main},
    {"fusionTimelineWatchStop", None, TimelineWatch},
    {"fusionCaptureCurrent", EmptyIfAbsent, Export},
    {"fusionRefreshPreview", Required, Main},
    {"fusionUpdateEffect", Required, Export},
    {"fusionDeleteEffect", Required, Export},
    {"fusionInsertEffect", Required, Main},
    {"fusionLiveUpsert", Required, Main},
    {"fusionLiveDelete", Required, Main},
    {"fusionNativeTemplateStatus", None, Main},
    {"fusionNativeTemplateRegister", None, Export},
    {"fusionApplyToSelectedTitle", Required, Export},
    {"fusionLiveBuildBegin", None, Main},
    {"fusionLiveBuildEnd", None, Main},
    {"fusionFloatingPaletteShow", None, Main},
    {"fusionFloatingPaletteSetEnabled", Required, Main},
    {"openExternal", Required, Main},
    {"frameReady", EmptyIfAbsent, Main},
};

}  // namespace

std::span<const MessageType> messageTypes() { return kMessageTypes; }

std::string_view payloadRuleName(PayloadRule rule) {
    switch (rule) {
    case Required: return "required";
    case EmptyIfAbsent: return "empty-if-absent";
    case None: return "none";
    }
    return "?";
}

std::string_view queuePlacementName(QueuePlacement placement) {
    switch (placement) {
    case Main: return "main";
    case Export: return "export";
    case TimelineWatch: return "timeline-watch";
    }
    return "?";
}

}  // namespace tessivo
