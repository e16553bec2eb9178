# The browser page's engine with Debian's Emscripten (scripts/web.sh):
#   NODE_PATH=/usr/share/nodejs cmake -S . -B build-web/core \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/emscripten-web.cmake -DKELVANE_WEB=ON
# Bad values are messages, so exceptions are on. No threads: the page steps
# on one, in a worker, to the same bits as any other count.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
set(CMAKE_CXX_FLAGS_INIT "-fexceptions")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fexceptions")
