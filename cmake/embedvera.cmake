# Writes OUT: the three Vera font files of VERA_DIR as byte arrays with the
# accessor that text/verafonts.h declares.
set(_body "// Generated from ${VERA_DIR} at build time; do not edit.\n#include \"text/verafonts.h\"\n\nnamespace {\n")
set(_index 0)
foreach(_font Vera.ttf VeraSe.ttf VeraMono.ttf)
  file(READ "${VERA_DIR}/${_font}" _hex HEX)
  string(LENGTH "${_hex}" _len)
  math(EXPR _bytes "${_len} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _arr "${_hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" _arr "${_arr}")
  string(APPEND _body "const unsigned char kFont${_index}[${_bytes}] = {\n${_arr}\n};\n")
  math(EXPR _index "${_index} + 1")
endforeach()
string(APPEND _body "}  // namespace\n\nqbEmbeddedFont GetEmbeddedVera(int which) {\n"
  "    switch (which) {\n"
  "        case 0: return {kFont0, sizeof kFont0};\n"
  "        case 1: return {kFont1, sizeof kFont1};\n"
  "        case 2: return {kFont2, sizeof kFont2};\n"
  "        default: return {nullptr, 0};\n    }\n}\n")
file(WRITE "${OUT}.tmp" "${_body}")
file(RENAME "${OUT}.tmp" "${OUT}")
