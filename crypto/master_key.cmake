# Writes the 258-byte public key record of a PEM key file as C++ source:
#   cmake -DOPENSSL=<openssl> -DPEM=<key file> [-DTEST_PEM=<development key>]
#         -DOUT=<master_key.cpp> -P master_key.cmake
# Runs on the build host, so a cross build embeds the same bytes as a native
# one. The PEM may hold a private key or only a public key. When its modulus
# is that of TEST_PEM (whose private half is published), the program is
# marked as one whose signatures prove nothing.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/c_bytes.cmake)

foreach(var OPENSSL PEM OUT)
  if(NOT ${var})
    message(FATAL_ERROR "master_key.cmake: ${var} is not set")
  endif()
endforeach()

file(READ "${PEM}" pem_text)
set(pubin)
if(pem_text MATCHES "BEGIN (RSA )?PUBLIC KEY")
  set(pubin -pubin)
endif()
execute_process(
  COMMAND "${OPENSSL}" rsa ${pubin} -in "${PEM}" -noout -text -modulus
  OUTPUT_VARIABLE text
  ERROR_VARIABLE errors
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "openssl cannot read the master key ${PEM}: ${errors}")
endif()

if(NOT text MATCHES "\\(([0-9]+) bit")
  message(FATAL_ERROR "no key size in the openssl output for ${PEM}")
endif()
set(bits ${CMAKE_MATCH_1})
if(bits GREATER 1024 OR bits LESS 512)
  message(FATAL_ERROR "the master key has ${bits} bits; 512 to 1024 are supported")
endif()
if(NOT text MATCHES "Modulus=([0-9A-Fa-f]+)")
  message(FATAL_ERROR "no modulus in the openssl output for ${PEM}")
endif()
set(modulus ${CMAKE_MATCH_1})
set(test_key 0)
if(TEST_PEM AND EXISTS "${TEST_PEM}")
  execute_process(
    COMMAND "${OPENSSL}" rsa -in "${TEST_PEM}" -noout -modulus
    OUTPUT_VARIABLE test_text
    ERROR_QUIET
    RESULT_VARIABLE test_result)
  if(test_result EQUAL 0 AND test_text MATCHES "Modulus=([0-9A-Fa-f]+)")
    string(TOUPPER "${CMAKE_MATCH_1}" test_modulus)
    string(TOUPPER "${modulus}" upper_modulus)
    if(test_modulus STREQUAL upper_modulus)
      set(test_key 1)
    endif()
  endif()
endif()
if(text MATCHES "(public)?[Ee]xponent: [0-9]+ \\(0x([0-9A-Fa-f]+)\\)")
  set(exponent ${CMAKE_MATCH_2})
elseif(text MATCHES "(public)?[Ee]xponent: ([0-9]+)")
  # Exponents small enough to be printed without hexadecimal.
  math(EXPR exponent "${CMAKE_MATCH_2}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" exponent "${exponent}")
else()
  message(FATAL_ERROR "no public exponent in the openssl output for ${PEM}")
endif()

# Both numbers as 128 big-endian bytes, padded with zeros at the front.
function(pad128 hex out)
  string(LENGTH "${hex}" n)
  math(EXPR odd "${n} % 2")
  if(odd)
    set(hex "0${hex}")
    math(EXPR n "${n} + 1")
  endif()
  if(n GREATER 256)
    message(FATAL_ERROR "number too long for the key record")
  endif()
  math(EXPR pad "256 - ${n}")
  string(REPEAT "0" ${pad} zeros)
  set(${out} "${zeros}${hex}" PARENT_SCOPE)
endfunction()
pad128("${modulus}" modulus)
pad128("${exponent}" exponent)

math(EXPR low "${bits} % 256")
math(EXPR high "${bits} / 256")
tvk_c_bytes("${modulus}" modulus_bytes)
tvk_c_bytes("${exponent}" exponent_bytes)
get_filename_component(pem_name "${PEM}" NAME)

set(source "// Generated at build time from ${pem_name}: the master public key record
// (bit count, modulus, public exponent).
#include \"crypto/master_key.h\"

namespace tvk {

const uint8_t kMasterPublicKey[kPublicKeyRecordSize] = {
${low}, ${high},
${modulus_bytes}${exponent_bytes}};

const uint32_t kMasterKeyIsTestKey = ${test_key};

}  // namespace tvk
")
# Rewrite only on change, so an unchanged key does not rebuild the library.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
  if(old STREQUAL source)
    return()
  endif()
endif()
file(WRITE "${OUT}" "${source}")
