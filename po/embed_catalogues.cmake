# Writes OUTPUT, a C++ source that holds the compiled catalogues
# FOLDER/<language>/LC_MESSAGES/tarvona.mo of LANGUAGES as byte arrays
# (platform/embedded_catalogues.h).
#   cmake -DFOLDER=... -DLANGUAGES="de;fr" -DOUTPUT=... -P embed_catalogues.cmake
set(text "// Made by po/embed_catalogues.cmake from the compiled catalogues.\n")
string(APPEND text "#include \"platform/embedded_catalogues.h\"\n\nnamespace tarvona::platform {\nnamespace {\n\n")
set(table "")
foreach(language ${LANGUAGES})
  file(READ ${FOLDER}/${language}/LC_MESSAGES/tarvona.mo bytes HEX)
  string(LENGTH "${bytes}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "(..)" "0x\\1," bytes "${bytes}")
  # Sixteen bytes a line.
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
  string(APPEND text "const unsigned char k_${language}[] = {\n    ${bytes}\n};\n\n")
  string(APPEND table "    {\"${language}\", k_${language}, ${size}},\n")
endforeach()
string(APPEND text "}  // namespace\n\nconst EmbeddedCatalogue kEmbeddedCatalogues[] = {\n${table}};\n")
list(LENGTH LANGUAGES count)
string(APPEND text "const size_t kEmbeddedCatalogueCount = ${count};\n\n}  // namespace tarvona::platform\n")
file(WRITE ${OUTPUT} "${text}")
