# Writes a C++ source holding the panel's built files as byte arrays, so the executable serves
# them without any file beside it. Run at build time:
#   cmake -DPASTA=<built panel folder> -DSAIDA=<file.cpp> -P EmbutirPainel.cmake
# Files that are missing are simply left out (the program then answers 404 for them and logs
# how many are absent), so the program still builds without the panel's toolchain.

set(_arquivos
  WEB_INDEX index.html
  WEB_APP_JS app.js
  WEB_APP_CSS app.css
  WEB_FONTES_OFL fontes-OFL.txt
  WEB_MANROPE manrope.woff2
  WEB_MONO ibm-plex-mono.woff2
  WEB_SW sw.js
  WEB_MANIFEST manifest.webmanifest
  WEB_ICONE_32 icone-32.png
  WEB_ICONE_180 icone-180.png
  WEB_ICONE_192 icone-192.png
  WEB_ICONE_512 icone-512.png)

set(_dados "")
set(_tabela "")
set(_n 0)
list(LENGTH _arquivos _total)
math(EXPR _ultimo "${_total} - 1")
foreach(_i RANGE 0 ${_ultimo} 2)
  math(EXPR _j "${_i} + 1")
  list(GET _arquivos ${_i} _recurso)
  list(GET _arquivos ${_j} _nome)
  if(EXISTS "${PASTA}/${_nome}")
    file(READ "${PASTA}/${_nome}" _hex HEX)
    string(LENGTH "${_hex}" _len)
    math(EXPR _bytes "${_len} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _hex "${_hex}")
    string(REGEX REPLACE "((0x..,){32})" "\\1\n" _hex "${_hex}")
    string(APPEND _dados "const unsigned char d_${_recurso}[] = {\n${_hex}0};\n")
    string(APPEND _tabela "    {\"${_recurso}\", d_${_recurso}, ${_bytes}},\n")
    math(EXPR _n "${_n} + 1")
  endif()
endforeach()

if(_n EQUAL 0)
  set(_tabela "    {nullptr, nullptr, 0},\n")
endif()

file(WRITE "${SAIDA}.novo" "// Generated from the built panel; do not edit.
#include \"http/painel.h\"
namespace {
${_dados}}  // namespace
namespace velorin {
extern const TRecursoEmbutido RECURSOS_PAINEL[] = {
${_tabela}};
extern const std::size_t QUANTIDADE_RECURSOS_PAINEL = ${_n};
}  // namespace velorin
")
# Only a changed panel rebuilds the program.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${SAIDA}.novo" "${SAIDA}")
file(REMOVE "${SAIDA}.novo")
