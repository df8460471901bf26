# Shared compile settings and the helper that builds one folder's static library.

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(VELORIN_SO windows)
else()
  set(VELORIN_SO linux)
endif()
set(VELORIN_OUTROS_SO linux windows)
list(REMOVE_ITEM VELORIN_OUTROS_SO ${VELORIN_SO})

add_library(velorin_opcoes INTERFACE)
target_compile_options(velorin_opcoes INTERFACE -Wall -Wextra -Wshadow -Wconversion)
target_compile_definitions(velorin_opcoes INTERFACE
  VELORIN_EDICAO_INTERNET=$<BOOL:${VELORIN_EDICAO_INTERNET}>
  VELORIN_VERSAO="${PROJECT_VERSION}")

# Hardening for release builds; sanitizer builds keep their own instrumentation.
if(NOT VELORIN_SANITIZAR AND NOT VELORIN_FUZZ)
  target_compile_options(velorin_opcoes INTERFACE
    $<$<CONFIG:Release,RelWithDebInfo>:-D_FORTIFY_SOURCE=2 -fstack-protector-strong -fstack-clash-protection -fPIE>)
  target_link_options(velorin_opcoes INTERFACE
    $<$<CONFIG:Release,RelWithDebInfo>:-pie -Wl,-z,relro -Wl,-z,now -Wl,-z,noexecstack>)
endif()

if(VELORIN_SANITIZAR)
  string(REPLACE ";" "," _san "${VELORIN_SANITIZAR}")
  add_compile_options(-fsanitize=${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_san})
endif()

if(VELORIN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELORIN_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# velorin_pasta(<name> [DEPS libs...]): the static library of one folder, built from its
# portable sources plus the current OS's *_<os>.cpp files.
function(velorin_pasta nome)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB _fontes CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER _fontes EXCLUDE REGEX "/main\\.cpp$")
  foreach(_so ${VELORIN_OUTROS_SO})
    list(FILTER _fontes EXCLUDE REGEX "_${_so}\\.cpp$")
  endforeach()
  add_library(velorin_${nome} STATIC ${_fontes})
  target_include_directories(velorin_${nome} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(velorin_${nome} PUBLIC velorin_opcoes ${A_DEPS})
endfunction()
