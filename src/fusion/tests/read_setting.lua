-- Reads a Fusion .setting file the way a Lua-based loader does and prints the
-- values the caption relies on, one "name=value" line each.
--
--   lua5.4 read_setting.lua FILE
--
-- The document runs as a text-only chunk in an environment that holds nothing
-- but stub constructors (no os, io, require, load...): any other name it uses
-- is an error. Texts are printed with backslash, line feed and carriage return
-- escaped as \\, \n and \r; numbers with 17 significant digits.

local path = assert(arg[1], "usage: read_setting.lua FILE")
local file = assert(io.open(path, "rb"))
local text = file:read("a")
file:close()

local composition
local function constructor(kind)
    return function(fields)
        assert(type(fields) == "table", kind .. " expects a table")
        fields.__kind = kind
        if kind == "Composition" then composition = fields end
        return fields
    end
end

local env = {}
for _, kind in ipairs({ "Composition", "TextPlus", "Saver", "Input", "OperatorInfo" }) do
    env[kind] = constructor(kind)
end
setmetatable(env, {
    __index = function(_, name) error("unknown name in document: " .. tostring(name), 2) end,
    __newindex = function(_, name) error("document assigns a global: " .. tostring(name), 2) end,
})

local chunk, message = load(text, "=" .. path, "t", env)
if not chunk then
    io.stderr:write("parse error: ", message, "\n")
    os.exit(3)
end
local ok, failure = pcall(chunk)
if not ok then
    io.stderr:write("run error: ", tostring(failure), "\n")
    os.exit(4)
end
if not composition then
    io.stderr:write("no Composition\n")
    os.exit(5)
end

local function show(value)
    if type(value) == "number" then
        if math.type(value) == "integer" then return string.format("%d", value) end
        return string.format("%.17g", value)
    elseif type(value) == "string" then
        return (value:gsub("\\", "\\\\"):gsub("\n", "\\n"):gsub("\r", "\\r"))
    end
    return tostring(value)
end

local function emit(name, value) print(name .. "=" .. show(value)) end

local template = composition.Tools.Template
local inputs = template.Inputs
assert(template.__kind == "TextPlus", "Template is not a TextPlus")
emit("RenderRange", composition.RenderRange[2])
emit("GlobalRange", composition.GlobalRange[2])
emit("TemplateId", composition.CustomData.TEMPLATE_ID)
for _, name in ipairs({ "GlobalOut", "Width", "Height", "UseFrameFormatSettings", "StyledText", "Font", "Style",
                        "Size", "Red1", "Green1", "Blue1", "Alpha1", "Enabled2", "Red2", "Green2", "Blue2",
                        "Alpha2", "Thickness2" }) do
    local input = inputs[name]
    if input ~= nil then
        assert(input.__kind == "Input", name .. " is not an Input")
        emit(name, input.Value)
    end
end
emit("CenterX", inputs.Center.Value[1])
emit("CenterY", inputs.Center.Value[2])
local saver = composition.Tools.MediaOut1
assert(saver.__kind == "Saver", "MediaOut1 is not a Saver")
emit("SaverSource", saver.Inputs.Input.SourceOp .. "." .. saver.Inputs.Input.Source)
emit("TemplatePos", template.ViewInfo.Pos[1])
