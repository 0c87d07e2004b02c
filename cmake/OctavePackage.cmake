# Assembles the Octave package partiscope-<version>.tar.gz that `pkg install`
# takes: the built modules and their help files in inst/ (on the path after
# `pkg load partiscope`), the examples in inst/examples/ (off the path: an
# example script must not shadow a function of Octave's), DESCRIPTION,
# INDEX and COPYING.
# Run as a script: cmake -DSOURCE_DIR=.. -DMEX_DIR=.. -DWORK_DIR=.. -DVERSION=..
#                        -DOUTPUT=.. -DMODULES=a,b -P OctavePackage.cmake
cmake_minimum_required(VERSION 3.18)
string(REPLACE "," ";" MODULES "${MODULES}")

set(name partiscope-${VERSION})
set(stage ${WORK_DIR}/${name})
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${stage}/inst/examples)

foreach(m IN LISTS MODULES)
  file(COPY ${MEX_DIR}/${m}.mex ${MEX_DIR}/${m}.m DESTINATION ${stage}/inst)
endforeach()
file(COPY ${MEX_DIR}/Contents.m DESTINATION ${stage}/inst)
file(GLOB examples ${SOURCE_DIR}/examples/*.m)
file(COPY ${examples} DESTINATION ${stage}/inst/examples)

string(TIMESTAMP today "%Y-%m-%d" UTC)
file(WRITE ${stage}/DESCRIPTION
"Name: partiscope
Version: ${VERSION}
Date: ${today}
Author: The Partiscope developers
Maintainer: The Partiscope developers
Title: In-line digital holography of small spherical particles
Description: Hologram models of spherical particles, FFT detection maps,
 simulated holograms (exact diffraction of opaque discs among them),
 angular-spectrum propagation, Cramer-Rao precision bounds and least-squares
 measurement of particles, as compiled MEX modules built for this machine.
Depends: octave (>= 7.0.0)
License: BSD-3-Clause for the source; the detectscan, detectstack,
 findparticles, propagate and discplate modules contain FFTW,
 so this binary package as a whole is under the GNU GPL, version 2 or later
 (see COPYING)
")

# INDEX: the categories of Contents.m.
file(WRITE ${stage}/INDEX
"partiscope >> In-line digital holography of small spherical particles
Particle model
 ringform cylone cylzero
Detection
 detectscan detectstack
Simulation and optics
 synthplate discplate sphereplate propagate
Precision
 precbound
Measurement
 ringfit findparticles
")

file(READ ${SOURCE_DIR}/LICENSE licence)
set(copying "${licence}
--------------------------------------------------------------------------
The modules detectscan.mex, detectstack.mex, findparticles.mex,
propagate.mex and discplate.mex of this package are linked with FFTW 3
(Copyright (c) 2003, 2007-14 Matteo Frigo, Copyright (c) 2003, 2007-14
Massachusetts Institute of Technology), which is free software under the
GNU General Public License, version 2 or (at your option) any later version.
Binaries that contain FFTW, this package among them, may be redistributed
only under the terms of that licence, whose text follows.
--------------------------------------------------------------------------
")
if(EXISTS /usr/share/common-licenses/GPL-2)
  file(READ /usr/share/common-licenses/GPL-2 gpl)
  string(APPEND copying "\n${gpl}")
endif()
file(WRITE ${stage}/COPYING "${copying}")

execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${OUTPUT} ${name}
                WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${OUTPUT}")
endif()
message(STATUS "Octave package: ${OUTPUT}")
