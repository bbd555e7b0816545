# Prepares the castv2 peer in the build tree: copies its script and package
# files and installs the locked packages when the lock changed.
# cmake -DSOURCE_DIR=... -DPEER_DIR=... -P castv2-peer-setup.cmake
set(ci "$ENV{CI}")
string(TOLOWER "${ci}" ci)
find_program(NPM npm)
find_program(NODE node)
if(NOT NPM OR NOT NODE)
  if(ci STREQUAL "true" OR ci STREQUAL "1")
    message(FATAL_ERROR "node and npm are required for the castv2 peer under CI")
  endif()
  message(STATUS "node or npm missing: the castv2 peer test will skip")
  return()
endif()

file(MAKE_DIRECTORY ${PEER_DIR})
foreach(name package.json package-lock.json castv2-device.js)
  configure_file(${SOURCE_DIR}/${name} ${PEER_DIR}/${name} COPYONLY)
endforeach()

file(SHA256 ${PEER_DIR}/package-lock.json lock_hash)
set(stamp ${PEER_DIR}/node_modules/.pealix-lock-hash)
if(EXISTS ${stamp})
  file(READ ${stamp} installed_hash)
  if(installed_hash STREQUAL lock_hash)
    return()
  endif()
endif()
execute_process(COMMAND ${NPM} ci --no-audit --no-fund --loglevel=error
                WORKING_DIRECTORY ${PEER_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "npm ci failed for the castv2 peer (${result})")
endif()
file(WRITE ${stamp} ${lock_hash})
