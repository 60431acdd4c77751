file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "char(0x\\1)," bytes "${hex}")
file(WRITE ${OUTPUT}.tmp "// Generated from ${INPUT}\nextern const char ${SYMBOL}[];\nconst char ${SYMBOL}[] = {${bytes}0x00};\n")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
