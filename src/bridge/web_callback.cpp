#include "bridge/web_callback.h"

namespace tessivo {

std::optional<std::string> webCallbackPayloadText(const Json& payload) { return serializeJson(payload); }

std::string webCallbackScript(const std::string& name, const std::string& payloadJSON) {
    std::string script = "(() => {\n    const payload = ";
    script += payloadJSON;
    script += ";\n    let attempts = 0;\n    const deliver = () => {\n        if (typeof ";
    script += name;
    script += " === 'function') { ";
    script += name;
    script += "(payload); }\n        else if (++attempts < 10) { window.setTimeout(deliver, 50); }\n    };\n"
              "    deliver();\n})();";
    return script;
}

}  // namespace tessivo
