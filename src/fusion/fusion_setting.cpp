#include "fusion/fusion_setting.h"

#include "bridge/coercion.h"
#include "lottie/css_color.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tessivo {

std::string fusionFloat(double value) {
    if (!std::isfinite(value)) value = 0;
    value += 0.0;  // no "-0.0"
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text = ec == std::errc() ? std::string(buffer, end) : std::string("0");
    // Exponent forms ("1e-05") already read as floats; a fraction added to them
    // would no longer be a number.
    if (text.find_first_of(".eE") == std::string::npos) text += ".0";
    return text;
}

std::string fusionQuoted(std::string_view text) {
    std::string quoted = "\"";
    quoted.reserve(text.size() + 2);
    for (char c : text) {
        switch (c) {
        case '\\': quoted += "\\\\"; break;
        case '"': quoted += "\\\""; break;
        case '\n': quoted += "\\n"; break;
        case '\r': break;
        default: quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

std::string makeResolveFusionSettingDocument(const Json& sequence, std::int64_t width, std::int64_t height,
                                             std::int64_t durationFrames) {
    const std::string L = std::to_string(std::max<std::int64_t>(durationFrames - 1, 1));
    const std::string W = std::to_string(width);
    const std::string H = std::to_string(height);
    const std::string T = fusionQuoted(stringValue(sequence, "text", ""));
    const std::string F = fusionQuoted(stringValue(sequence, "font", "Bebas Neue"));
    const std::string Z = fusionFloat(std::clamp(finiteDoubleValue(sequence, "size", 8) / 100.0, 0.02, 0.42));
    const std::string X = fusionFloat(std::clamp(finiteDoubleValue(sequence, "x", 50), 0.0, 100.0) / 100.0);
    const std::string Y = fusionFloat(1.0 - std::clamp(finiteDoubleValue(sequence, "y", 50), 0.0, 100.0) / 100.0);
    const auto fill = fusionColorComponents(cssColor(member(sequence, "color"), "#ffffff"));

    std::string outline;
    if (boolValue(sequence, "hasOutline", false)) {
        const auto stroke = fusionColorComponents(cssColor(member(sequence, "outlineColor"), "#000000"));
        const std::string K = fusionFloat(std::clamp(finiteDoubleValue(sequence, "outlineWidth", 0) / 80.0, 0.0, 0.08));
        const std::string indent(20, ' ');
        outline = indent + "Enabled2 = Input { Value = 1, },\n" +
                  indent + "Red2 = Input { Value = " + stroke[0] + ", },\n" +
                  indent + "Green2 = Input { Value = " + stroke[1] + ", },\n" +
                  indent + "Blue2 = Input { Value = " + stroke[2] + ", },\n" +
                  indent + "Alpha2 = Input { Value = 1, },\n" +
                  indent + "Thickness2 = Input { Value = " + K + ", },";
    }

    std::string d;
    d.reserve(2048 + T.size() + F.size());
    d += "Composition {\n";
    d += "    CurrentTime = 0,\n";
    d += "    RenderRange = { 0, " + L + " },\n";
    d += "    GlobalRange = { 0, " + L + " },\n";
    d += "    CurrentID = 3,\n";
    d += "    HiQ = true,\n";
    d += "    PlaybackUpdateMode = 0,\n";
    d += "    StereoMode = false,\n";
    d += "    SavedOutputs = 0,\n";
    d += "    HeldTools = 0,\n";
    d += "    DisabledTools = 0,\n";
    d += "    LockedTools = 0,\n";
    d += "    AudioOffset = 0,\n";
    d += "    Resumable = true,\n";
    d += "    OutputClips = {\n";
    d += "    },\n";
    d += "    CustomData = { TEMPLATE_ID = \"Text+\" },\n";
    d += "    Tools = {\n";
    d += "        Template = TextPlus {\n";
    d += "            CtrlWZoom = false,\n";
    d += "            Inputs = {\n";
    d += "                GlobalOut = Input { Value = " + L + ", },\n";
    d += "                Width = Input { Value = " + W + ", },\n";
    d += "                Height = Input { Value = " + H + ", },\n";
    d += "                UseFrameFormatSettings = Input { Value = 1, },\n";
    d += "                StyledText = Input { Value = " + T + ", },\n";
    d += "                Font = Input { Value = " + F + ", },\n";
    d += "                Style = Input { Value = \"Regular\", },\n";
    d += "                Size = Input { Value = " + Z + ", },\n";
    d += "                Center = Input { Value = { " + X + ", " + Y + " }, },\n";
    d += "                Red1 = Input { Value = " + fill[0] + ", },\n";
    d += "                Green1 = Input { Value = " + fill[1] + ", },\n";
    d += "                Blue1 = Input { Value = " + fill[2] + ", },\n";
    d += "                Alpha1 = Input { Value = 1, },\n";
    d += outline + "\n";
    d += "            },\n";
    d += "            ViewInfo = OperatorInfo { Pos = { 220, 30 } },\n";
    d += "        },\n";
    d += "        MediaOut1 = Saver {\n";
    d += "            Inputs = {\n";
    d += "                Index = Input { Value = \"0\", },\n";
    d += "                Input = Input {\n";
    d += "                    SourceOp = \"Template\",\n";
    d += "                    Source = \"Output\",\n";
    d += "                },\n";
    d += "            },\n";
    d += "            ViewInfo = OperatorInfo { Pos = { 460, 30 } },\n";
    d += "        },\n";
    d += "    },\n";
    d += "    Frames = {\n";
    d += "    },\n";
    d += "}";
    return d;
}

}  // namespace tessivo
