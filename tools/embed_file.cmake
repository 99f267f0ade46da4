# Turns a file into a C++ source that defines its bytes, so that a sample ships inside the
# binary while the file itself stays the one source of truth.
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P embed_file.cmake
# defines host::<name>_data (the bytes, then a terminating 0) and host::<name>_size.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; edit that file instead.\n"
  "#include <cstddef>\n"
  "namespace host {\n"
  "extern const char ${SYMBOL}_data[];\n"
  "extern const std::size_t ${SYMBOL}_size;\n"
  "const char ${SYMBOL}_data[] = {${bytes}'\\0'};\n"
  "const std::size_t ${SYMBOL}_size = ${size};\n"
  "} // namespace host\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
