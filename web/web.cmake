# What the web page is built with: the demo, the board and the console
# compiled to WebAssembly by Debian's emscripten (the `web` preset), the
# display an HTML canvas. The page itself is web/CMakeLists.txt; `./go web`
# builds and serves it.
set(SOFTBOARD_WEB_DIR "${CMAKE_SOURCE_DIR}/build/web" CACHE PATH "Where the page is put")
set(SOFTBOARD_WEB_TEXTURE "${CMAKE_SOURCE_DIR}/build/release/bin/tex.3df"
    CACHE FILEPATH "The default texture, made by the native build")
set(SOFTBOARD_HWY_INCLUDE "/usr/include" CACHE PATH "The folder that holds hwy/")
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${SOFTBOARD_WEB_DIR})
set(CMAKE_EXECUTABLE_SUFFIX ".js")

# Highway's headers from a folder that holds only them: the system's include
# folder would bring glibc's headers in front of emscripten's own.
set(hwy_headers ${CMAKE_BINARY_DIR}/hwy-headers)
file(MAKE_DIRECTORY ${hwy_headers})
file(CREATE_LINK ${SOFTBOARD_HWY_INCLUDE}/hwy ${hwy_headers}/hwy SYMBOLIC)
add_library(hwy_for_board INTERFACE)
target_include_directories(hwy_for_board SYSTEM INTERFACE ${hwy_headers})
# 128-bit SIMD everywhere: Highway's WASM target, and what the compiler
# makes of plain loops.
add_compile_options(-msimd128)
