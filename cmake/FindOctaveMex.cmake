# Finds what GNU Octave's `mkoctfile --mex` uses to build a MEX module:
# its include directories and its link flags, asked from mkoctfile itself
# so the build follows the installed Octave version.
#
#   OctaveMex_FOUND, OctaveMex_MKOCTFILE, OctaveMex_INCLUDE_DIRS,
#   OctaveMex_LINK_FLAGS, OctaveMex_VERSION, OctaveMex_EXECUTABLE

find_program(OctaveMex_MKOCTFILE NAMES mkoctfile)
find_program(OctaveMex_EXECUTABLE NAMES octave-cli octave)

if(OctaveMex_MKOCTFILE)
  execute_process(COMMAND ${OctaveMex_MKOCTFILE} -p INCFLAGS
                  OUTPUT_VARIABLE _incflags OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${OctaveMex_MKOCTFILE} -p DL_LDFLAGS
                  OUTPUT_VARIABLE _ldflags OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${OctaveMex_MKOCTFILE} --version
                  OUTPUT_VARIABLE _version ERROR_VARIABLE _version
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
  string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" OctaveMex_VERSION "${_version}")

  separate_arguments(_incflags UNIX_COMMAND "${_incflags}")
  set(OctaveMex_INCLUDE_DIRS "")
  foreach(_flag IN LISTS _incflags)
    if(_flag MATCHES "^-I(.+)$")
      get_filename_component(_dir "${CMAKE_MATCH_1}" REALPATH)
      list(APPEND OctaveMex_INCLUDE_DIRS "${_dir}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES OctaveMex_INCLUDE_DIRS)
  separate_arguments(OctaveMex_LINK_FLAGS UNIX_COMMAND "${_ldflags}")
  # The shared-object switch comes from add_library(MODULE) itself.
  list(REMOVE_ITEM OctaveMex_LINK_FLAGS -shared)
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OctaveMex
  REQUIRED_VARS OctaveMex_MKOCTFILE OctaveMex_INCLUDE_DIRS
  VERSION_VAR OctaveMex_VERSION)

# Octave releases that ship the separate MEX runtime liboctmex also refuse a
# .mex that does not state the runtime's ABI number in the exported integer
# __octave_mex_soversion__ (mkoctfile adds a one-line source for it). The
# number is the runtime library's own SOVERSION; older releases have neither.
set(OctaveMex_SOVERSION "")
if(OctaveMex_MKOCTFILE)
  execute_process(COMMAND ${OctaveMex_MKOCTFILE} -p OCTLIBDIR
                  OUTPUT_VARIABLE _libdir OUTPUT_STRIP_TRAILING_WHITESPACE)
  file(GLOB _octmex "${_libdir}/liboctmex.so.*" "${_libdir}/../liboctmex.so.*")
  foreach(_lib IN LISTS _octmex)
    get_filename_component(_name "${_lib}" NAME)
    if(_name MATCHES "^liboctmex\\.so\\.([0-9]+)")
      set(OctaveMex_SOVERSION "${CMAKE_MATCH_1}")
      break()
    endif()
  endforeach()
endif()
