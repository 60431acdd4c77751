#include "bridge/caption_sequence.h"

#include "bridge/coercion.h"

#include <algorithm>

namespace tessivo {

// Numbers go through the finite coercion: a "nan" or "inf" would hide the
// block (no geometry) or break the ordering of the others.
NativeTextSequence NativeTextSequence::decode(const Json& d) {
    NativeTextSequence s;
    s.text = stringValue(d, "text", s.text);
    s.startTime = finiteDoubleValue(d, "startTime", s.startTime);
    s.duration = finiteDoubleValue(d, "duration", s.duration);
    s.x = finiteDoubleValue(d, "x", s.x);
    s.y = finiteDoubleValue(d, "y", s.y);
    s.trackId = intValue(d, "trackId", s.trackId);
    s.font = stringValue(d, "font", s.font);
    s.size = finiteDoubleValue(d, "size", s.size);
    s.textScaleX = std::clamp(finiteDoubleValue(d, "textScaleX", s.textScaleX), 40.0, 220.0);
    s.color = stringValue(d, "color", s.color);
    s.color2 = stringValue(d, "color2", s.color2);
    s.effect = stringValue(d, "effect", s.effect);
    s.effectSpeed = finiteDoubleValue(d, "effectSpeed", s.effectSpeed);
    s.effectColor = stringValue(d, "effectColor", s.effectColor);
    s.glowType = stringValue(d, "glowType", s.glowType);
    s.glowIntensity = finiteDoubleValue(d, "glowIntensity", s.glowIntensity);
    s.glowColor = stringValue(d, "glowColor", s.glowColor);
    s.hasOutline = boolValue(d, "hasOutline", s.hasOutline);
    s.outlineWidth = finiteDoubleValue(d, "outlineWidth", s.outlineWidth);
    s.outlineColor = stringValue(d, "outlineColor", s.outlineColor);
    s.animIn = stringValue(d, "animIn", s.animIn);
    s.animOut = stringValue(d, "animOut", s.animOut);
    s.animSpeed = finiteDoubleValue(d, "animSpeed", s.animSpeed);
    return s;
}

std::vector<NativeTextSequence> nativeSequences(const Json& params) {
    std::vector<NativeTextSequence> result;
    const Json* sequences = member(params, "sequences");
    if (!sequences || !sequences->is_array()) return result;
    // A list holding anything but dictionaries is not a list of sequences.
    for (const auto& element : *sequences) {
        if (!element.is_object()) return result;
    }
    for (const auto& element : *sequences) result.push_back(NativeTextSequence::decode(element));
    std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) {
        if (a.trackId != b.trackId) return a.trackId < b.trackId;
        return a.startTime < b.startTime;
    });
    return result;
}

}  // namespace tessivo
