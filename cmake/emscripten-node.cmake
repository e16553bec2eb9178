# Building for WebAssembly with Debian's Emscripten, to run in node:
#   NODE_PATH=/usr/share/nodejs cmake -S . -B build-wasm \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/emscripten-node.cmake
# (Emscripten's tools need NODE_PATH to find Debian's acorn.) Bad values are
# errors with messages, so exceptions are on; NODERAWFS gives the programs
# the real file system, for kelvane-run's files and the known-answer list.
# No threads: WebAssembly runs every step on one thread, to the same bits.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
set(CMAKE_CXX_FLAGS_INIT "-fexceptions")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-fexceptions -sNODERAWFS=1 -sENVIRONMENT=node -sALLOW_MEMORY_GROWTH=1 -sEXIT_RUNTIME=1")
# node 18 and later fetch the loader's .wasm file as a URL, which fails for a
# file on disk; without their fetch the loader reads it from the disk.
find_program(KELVANE_NODE NAMES node nodejs REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${KELVANE_NODE};--no-experimental-fetch")
