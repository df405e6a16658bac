# Makes the build's own master key pair when there is none yet:
#   cmake -DOPENSSL=<openssl> -DKEY_DIR=<folder> -P master_key_pair.cmake
# The private half stays in KEY_DIR (master.pem, readable by the owner
# alone; the folder is closed to others and ignored by git). Builds of one
# set (native tvk, the static Linux and the Windows self-extractors) name
# the same folder, so that they trust the same key; a lock keeps two of them
# configured at once from making two keys.
foreach(var OPENSSL KEY_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "master_key_pair.cmake: ${var} is not set")
  endif()
endforeach()

file(MAKE_DIRECTORY "${KEY_DIR}")
file(CHMOD "${KEY_DIR}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
if(NOT EXISTS "${KEY_DIR}/.gitignore")
  file(WRITE "${KEY_DIR}/.gitignore" "# The build's private master key: never commit it.\n*\n")
endif()
file(LOCK "${KEY_DIR}/.lock" GUARD PROCESS TIMEOUT 120 RESULT_VARIABLE locked)
if(NOT locked EQUAL 0)
  message(FATAL_ERROR "cannot lock ${KEY_DIR}/.lock: ${locked}")
endif()
set(key "${KEY_DIR}/master.pem")
if(NOT EXISTS "${key}")
  execute_process(
    COMMAND "${OPENSSL}" genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024
            -pkeyopt rsa_keygen_pubexp:65537 -out "${key}.new"
    OUTPUT_VARIABLE out
    ERROR_VARIABLE errors
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    file(REMOVE "${key}.new")
    message(FATAL_ERROR "openssl cannot make the master key pair in ${KEY_DIR}: ${errors}")
  endif()
  file(CHMOD "${key}.new" PERMISSIONS OWNER_READ OWNER_WRITE)
  file(RENAME "${key}.new" "${key}")
  message(STATUS "Master key: made a new key pair in ${key}")
endif()
file(LOCK "${KEY_DIR}/.lock" RELEASE)
