# partiscope_add_module for the Windows x64 cross-build: each module as
# build-windows/mex/<name>.mexw64, importing the host operations from
# libmx.dll and libmex.dll (import libraries made from the .def files in
# cmake/windows), and the test host as a libmx.dll and a libmex.dll of our
# own that the gateway tests load the modules against, under Wine.

set(PARTISCOPE_WINDOWS_DEFS ${CMAKE_CURRENT_LIST_DIR}/windows)
find_program(PARTISCOPE_DLLTOOL NAMES ${CMAKE_DLLTOOL} x86_64-w64-mingw32-dlltool REQUIRED)

# Import libraries of the host, as MATLAB's libraries present themselves.
foreach(lib libmx libmex)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/import/${lib}.a
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/import
    COMMAND ${PARTISCOPE_DLLTOOL} -d ${PARTISCOPE_WINDOWS_DEFS}/${lib}.def
            -l ${CMAKE_BINARY_DIR}/import/${lib}.a
    DEPENDS ${PARTISCOPE_WINDOWS_DEFS}/${lib}.def)
endforeach()
add_custom_target(partiscope_host_imports
  DEPENDS ${CMAKE_BINARY_DIR}/import/libmx.a ${CMAKE_BINARY_DIR}/import/libmex.a)

# Everything self-contained: no MinGW runtime DLLs to ship beside a module.
set(_partiscope_static_runtime -static-libgcc -static-libstdc++
    -Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic)

add_library(partiscope_frame_windows STATIC ${PROJECT_SOURCE_DIR}/frame/frame.cpp)
target_include_directories(partiscope_frame_windows PUBLIC ${PROJECT_SOURCE_DIR}
                           ${PROJECT_SOURCE_DIR}/testhost/include)
target_compile_definitions(partiscope_frame_windows PRIVATE PARTISCOPE_VERSION="${PROJECT_VERSION}")

# The test host: libmx.dll holds every operation; libmex.dll forwards its two.
add_library(partiscope_testhost SHARED ${PROJECT_SOURCE_DIR}/testhost/host.cpp)
target_include_directories(partiscope_testhost PUBLIC
  ${PROJECT_SOURCE_DIR}/testhost/include ${PROJECT_SOURCE_DIR}/testhost)
target_compile_definitions(partiscope_testhost PRIVATE PARTISCOPE_TESTHOST_BUILD)
# Only our own functions are exported, not those of the static runtime.
target_link_options(partiscope_testhost PRIVATE ${_partiscope_static_runtime}
  -Wl,--exclude-libs,libgcc.a:libgcc_eh.a:libstdc++.a:libwinpthread.a)
set_target_properties(partiscope_testhost PROPERTIES OUTPUT_NAME mx PREFIX lib
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_library(partiscope_testhost_mex SHARED ${PARTISCOPE_WINDOWS_DEFS}/libmex-forward.def)
set_target_properties(partiscope_testhost_mex PROPERTIES OUTPUT_NAME mex PREFIX lib LINKER_LANGUAGE C
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_link_libraries(partiscope_testhost_mex PRIVATE partiscope_testhost)

function(partiscope_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  set(target ${name}_windows)
  add_library(${target} MODULE ${ARG_SOURCES})
  add_dependencies(${target} partiscope_host_imports)
  target_link_libraries(${target} PRIVATE partiscope_frame_windows ${ARG_LIBS}
                        ${CMAKE_BINARY_DIR}/import/libmx.a ${CMAKE_BINARY_DIR}/import/libmex.a user32)
  target_link_options(${target} PRIVATE ${_partiscope_static_runtime})
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".mexw64" OUTPUT_NAME ${name}
                        LIBRARY_OUTPUT_DIRECTORY ${PARTISCOPE_MEX_DIR})
  # The test host's loader finds each module under its test-host name too.
  add_custom_target(${name}_testhost ALL DEPENDS ${target})
endfunction()
