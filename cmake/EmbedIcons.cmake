# Writes a C++ source holding the window's icons, PNG files, as bytes, so
# that the program shows its own icon wherever it is started from.
#   cmake -DOUTPUT=file.cpp -DICON_DIR=data/icons -DSIZES="16;32;48;256" -P EmbedIcons.cmake
set(body "// Made by cmake/EmbedIcons.cmake from ${ICON_DIR}; do not edit.\n#include \"windowicons.h\"\n\nnamespace {\n")
set(table "")
foreach(size ${SIZES})
  file(READ ${ICON_DIR}/tarven-${size}.png hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR bytes "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
  string(APPEND body "const unsigned char png${size}[${bytes}] = {\n${hex}};\n")
  string(APPEND table "    {${size}, png${size}, sizeof png${size}},\n")
endforeach()
string(APPEND body "}  // namespace\n\nconst EmbeddedIcon kTarvenIcons[] = {\n${table}};\nconst int kTarvenIconCount = sizeof kTarvenIcons / sizeof kTarvenIcons[0];\n")
file(WRITE ${OUTPUT}.tmp "${body}")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
