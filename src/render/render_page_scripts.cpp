#include "render/render_page_scripts.h"

#include <charconv>

namespace tessivo {

std::string renderScriptTime(double seconds) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, seconds);
    if (ec != std::errc()) return "0.0";
    std::string literal(text, end);
    if (literal.find_first_of(".ein") != std::string::npos) {
        // An exponent without a fraction gets one before the exponent.
        const auto e = literal.find('e');
        if (e != std::string::npos && literal.find('.') == std::string::npos) literal.insert(e, ".0");
        return literal;
    }
    return literal + ".0";
}

std::string renderLoadScript(const std::string& paramsJSON) {
    return "(function() {\n    if (typeof window.loadRenderProject !== 'function') { return false; }\n"
           "    window.loadRenderProject(" + paramsJSON + ");\n    return true;\n})();";
}

std::string renderReuseStateScript(double time) {
    return "typeof window.getRenderReuseState === 'function' ? window.getRenderReuseState(" +
           renderScriptTime(time) + ") : ({kind:'dynamic', key:null})";
}

std::string renderSetTimeScript(double time, std::int64_t requestID) {
    return "window.setRenderTime(" + renderScriptTime(time) + ", " + std::to_string(requestID) + ")";
}

}  // namespace tessivo
