# partiscope_add_module(<name> SOURCES <gateway sources> LIBS <core libraries>)
#
# Builds one MEX module from the same gateway source for every host present:
#   GNU Octave  -> build/mex/<name>.mex, with its help file <name>.m beside it
#   test host   -> target <name>_testhost, loaded by the gateway tests
#   MATLAB      -> build/matlab/<name>.<mexext>, when MATLAB is found
# The host-facing frame is compiled once per host (it includes that host's
# mex.h); the host-free core libraries are shared by all.

# The help text beside the module, kept up to date with its source.
function(_partiscope_help_file target from to)
  add_custom_command(OUTPUT ${to} COMMAND ${CMAKE_COMMAND} -E copy ${from} ${to} DEPENDS ${from})
  add_custom_target(${target} ALL DEPENDS ${to})
endfunction()

set(_partiscope_frame_sources ${CMAKE_CURRENT_LIST_DIR}/../frame/frame.cpp)

function(_partiscope_frame_library target)
  add_library(${target} STATIC ${_partiscope_frame_sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE PARTISCOPE_VERSION="${PROJECT_VERSION}")
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden)
endfunction()

# Options every module shares, whatever the host: only mexFunction is
# exported, and no GNU-unique symbols, so that unloading a module really
# unmaps it and the next load starts with fresh state.
function(_partiscope_module_options target)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-fno-gnu-unique>)
  target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
endfunction()

# --- GNU Octave -------------------------------------------------------------
if(PARTISCOPE_OCTAVE)
  find_package(OctaveMex REQUIRED)
  _partiscope_frame_library(partiscope_frame_octave)
  target_include_directories(partiscope_frame_octave SYSTEM PUBLIC ${OctaveMex_INCLUDE_DIRS})
  _partiscope_help_file(partiscope_octave_contents ${PROJECT_SOURCE_DIR}/modules/Contents.m
                        ${PARTISCOPE_MEX_DIR}/Contents.m)
  if(OctaveMex_SOVERSION)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/octave_mex_soversion.cpp.in
                   ${CMAKE_BINARY_DIR}/octave_mex_soversion.cpp @ONLY)
  endif()
endif()

# --- the test host ------------------------------------------------------------
if(PARTISCOPE_TESTS OR PARTISCOPE_FUZZ)
  add_library(partiscope_testhost SHARED ${PROJECT_SOURCE_DIR}/testhost/host.cpp)
  target_include_directories(partiscope_testhost PUBLIC
    ${PROJECT_SOURCE_DIR}/testhost/include ${PROJECT_SOURCE_DIR}/testhost)
  target_link_libraries(partiscope_testhost PUBLIC ${CMAKE_DL_LIBS})
  _partiscope_frame_library(partiscope_frame_testhost)
  target_link_libraries(partiscope_frame_testhost PUBLIC partiscope_testhost)
endif()

# --- MATLAB ---------------------------------------------------------------------
set(PARTISCOPE_WITH_MATLAB OFF)
if(PARTISCOPE_MATLAB)
  find_package(Matlab QUIET COMPONENTS MX_LIBRARY)
  if(Matlab_FOUND)
    set(PARTISCOPE_WITH_MATLAB ON)
    _partiscope_frame_library(partiscope_frame_matlab)
    target_include_directories(partiscope_frame_matlab SYSTEM PUBLIC ${Matlab_INCLUDE_DIRS})
    # The gateways read imaginary parts with mxGetPi: the separate-complex API.
    target_compile_definitions(partiscope_frame_matlab PUBLIC
      MATLAB_MEX_FILE MATLAB_DEFAULT_RELEASE=R2017b)
    message(STATUS "MATLAB found in ${Matlab_ROOT_DIR}: building the modules for MATLAB too")
    _partiscope_help_file(partiscope_matlab_contents ${PROJECT_SOURCE_DIR}/modules/Contents.m
                          ${CMAKE_BINARY_DIR}/matlab/Contents.m)
  else()
    message(STATUS "MATLAB not found: skipping the MATLAB modules "
                   "(set Matlab_ROOT_DIR to build them)")
  endif()
endif()

function(partiscope_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  set(help ${PROJECT_SOURCE_DIR}/modules/${name}/${name}.m)

  if(PARTISCOPE_OCTAVE)
    set(target ${name}_octave)
    add_library(${target} MODULE ${ARG_SOURCES})
    if(OctaveMex_SOVERSION)
      target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/octave_mex_soversion.cpp)
    endif()
    target_link_libraries(${target} PRIVATE partiscope_frame_octave ${ARG_LIBS})
    _partiscope_module_options(${target})
    # Like mkoctfile: no Octave library is linked; the mx/mex symbols
    # resolve from the host when it loads the module.
    target_link_options(${target} PRIVATE ${OctaveMex_LINK_FLAGS})
    set_target_properties(${target} PROPERTIES
      PREFIX "" SUFFIX ".mex" OUTPUT_NAME ${name}
      LIBRARY_OUTPUT_DIRECTORY ${PARTISCOPE_MEX_DIR})
    _partiscope_help_file(${name}_octave_help ${help} ${PARTISCOPE_MEX_DIR}/${name}.m)
  endif()

  if(PARTISCOPE_TESTS OR PARTISCOPE_FUZZ)
    set(target ${name}_testhost)
    add_library(${target} MODULE ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE partiscope_frame_testhost ${ARG_LIBS})
    _partiscope_module_options(${target})
    if(NOT PARTISCOPE_SANITIZE AND NOT PARTISCOPE_FUZZ)
      # Every symbol resolved at link time: only the host's are left open
      # (sanitizer runtimes live in the executable).
      target_link_options(${target} PRIVATE -Wl,-z,defs)
    endif()
    set_target_properties(${target} PROPERTIES
      PREFIX "" OUTPUT_NAME ${name}
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testhost-mex)
  endif()

  if(PARTISCOPE_WITH_MATLAB)
    matlab_add_mex(NAME ${name}_matlab MODULE SRC ${ARG_SOURCES} OUTPUT_NAME ${name}
                   LINK_TO partiscope_frame_matlab ${ARG_LIBS} R2017b)
    set_target_properties(${name}_matlab PROPERTIES
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/matlab)
    _partiscope_help_file(${name}_matlab_help ${help} ${CMAKE_BINARY_DIR}/matlab/${name}.m)
  endif()
endfunction()
