# The web page: the demo, the board and the console compiled to WebAssembly,
# the display an HTML canvas. Built with Debian's emscripten through the `web`
# preset; `./go web` builds and serves it.
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

add_subdirectory(graphics)
add_subdirectory(platform/quote)
add_subdirectory(platform/console)
add_subdirectory(platform/texfile)
add_subdirectory(platform/board)
add_subdirectory(src)

# The demo's blocking calls (_getch, the swap's wait for the next frame) give
# the browser its thread back through Asyncify; main runs as written.
target_link_options(transdemo PRIVATE
  -sASYNCIFY -sASYNCIFY_STACK_SIZE=65536
  -sEXIT_RUNTIME=1 -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=67108864
  -sEXPORTED_FUNCTIONS=_main,_console_queue_key
  -sEXPORTED_RUNTIME_METHODS=FS,ENV,addRunDependency,removeRunDependency
  --pre-js ${CMAKE_CURRENT_LIST_DIR}/page.js)
set_property(TARGET transdemo APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/page.js)

# The demo's frame drawn again and again, for its time in a browser
# (bench.html) or Node against the native benchmark's.
add_executable(frame_bench ${CMAKE_CURRENT_LIST_DIR}/frame_bench.cpp
               ${CMAKE_SOURCE_DIR}/bench/board_scenes.cpp ${CMAKE_SOURCE_DIR}/bench/scenes.cpp)
target_include_directories(frame_bench PRIVATE ${CMAKE_SOURCE_DIR}/bench)
target_link_libraries(frame_bench PRIVATE demo softboard)
target_link_options(frame_bench PRIVATE -sEXIT_RUNTIME=1 -sALLOW_MEMORY_GROWTH=1)

# The page beside its program, and the texture the native build made.
if(NOT EXISTS ${SOFTBOARD_WEB_TEXTURE})
  message(FATAL_ERROR "No texture at ${SOFTBOARD_WEB_TEXTURE}: build the native release first "
                      "(cmake --preset release && cmake --build --preset release), or use ./go web")
endif()
add_custom_target(web_page ALL
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_CURRENT_LIST_DIR}/index.html
          ${CMAKE_CURRENT_LIST_DIR}/bench.html ${SOFTBOARD_WEB_TEXTURE} ${SOFTBOARD_WEB_DIR}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/index.html ${CMAKE_CURRENT_LIST_DIR}/bench.html
          ${SOFTBOARD_WEB_TEXTURE}
  COMMENT "The page, beside the demo: index.html, bench.html and tex.3df")

# The pixel tests on Highway's WASM target under Node: every fused span loop
# against the general loop, bit for bit (`ctest --preset web`). GoogleTest is
# built from the sources Debian ships with it.
option(SOFTBOARD_TESTS "Build the tests" ON)
if(SOFTBOARD_TESTS AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(CMAKE_CROSSCOMPILING_EMULATOR node --no-experimental-fetch)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  enable_testing()
  include(GoogleTest)
  set(pipeline ${CMAKE_SOURCE_DIR}/tests/pipeline)
  add_executable(pipeline_test
    ${pipeline}/rasterizer_test.cpp ${pipeline}/combine_test.cpp ${pipeline}/blend_test.cpp
    ${pipeline}/sampler_test.cpp ${pipeline}/fast_path_test.cpp ${pipeline}/kernel_test.cpp
    ${pipeline}/scale_test.cpp ${pipeline}/damage_test.cpp ${pipeline}/color16_test.cpp
    ${pipeline}/safety_test.cpp ${CMAKE_SOURCE_DIR}/tests/web/hwy_single_target.cpp)
  set_target_properties(pipeline_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(pipeline_test PRIVATE softboard hwy_for_board gtest gtest_main)
  target_link_options(pipeline_test PRIVATE -sALLOW_MEMORY_GROWTH=1 -sNODERAWFS=1)
  gtest_discover_tests(pipeline_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()
