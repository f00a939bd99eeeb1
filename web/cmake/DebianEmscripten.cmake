# Toolchain file for the web page: Debian's emscripten, whose tools run parts of the build under node and
# need Debian's node modules (acorn) in /usr/share/nodejs. A nodejs from elsewhere does not look there, so
# every compile and link runs with NODE_PATH naming that folder, whichever node is installed.
find_program(BRASKO_EMXX em++ REQUIRED)
file(REAL_PATH "${BRASKO_EMXX}" emxxReal)
get_filename_component(emscriptenRoot "${emxxReal}" DIRECTORY)
include("${emscriptenRoot}/cmake/Modules/Platform/Emscripten.cmake")

set(BRASKO_NODE_PATH "/usr/share/nodejs")
if(DEFINED ENV{NODE_PATH} AND NOT "$ENV{NODE_PATH}" STREQUAL "")
    string(APPEND BRASKO_NODE_PATH ":$ENV{NODE_PATH}")
endif()
set(CMAKE_C_COMPILER_LAUNCHER /usr/bin/env "NODE_PATH=${BRASKO_NODE_PATH}")
set(CMAKE_CXX_COMPILER_LAUNCHER /usr/bin/env "NODE_PATH=${BRASKO_NODE_PATH}")
set(CMAKE_CXX_LINKER_LAUNCHER /usr/bin/env "NODE_PATH=${BRASKO_NODE_PATH}")
