# Static libjpeg (API 62) for a mingw-w64 cross build, made from Debian's own
# libjpeg-turbo source package (scripts/setup.sh unpacks it into
# build/deps/src). It is built while configuring, once per build directory, so
# that the plain find_package(JPEG) of the portable core finds it like any
# installed library. nasm supplies the SIMD code.
#
# Inputs: CMAKE_TOOLCHAIN_FILE (the cross toolchain), optionally
# ROVANTA_LIBJPEG_SOURCE (a libjpeg-turbo source tree).

if(NOT ROVANTA_LIBJPEG_SOURCE)
  file(GLOB _jpeg_sources LIST_DIRECTORIES true ${CMAKE_CURRENT_LIST_DIR}/../build/deps/src/libjpeg-turbo-*)
  list(FILTER _jpeg_sources EXCLUDE REGEX "\\.(tar|dsc|gz|xz)")
  list(SORT _jpeg_sources)
  list(POP_BACK _jpeg_sources ROVANTA_LIBJPEG_SOURCE)
endif()
set(ROVANTA_LIBJPEG_SOURCE "${ROVANTA_LIBJPEG_SOURCE}" CACHE PATH "libjpeg-turbo source tree for the Windows build")
if(NOT EXISTS "${ROVANTA_LIBJPEG_SOURCE}/jpeglib.h")
  message(FATAL_ERROR "libjpeg-turbo source not found; run scripts/setup.sh or set ROVANTA_LIBJPEG_SOURCE")
endif()

set(_jpeg_build ${CMAKE_BINARY_DIR}/deps/libjpeg-build)
set(_jpeg_prefix ${CMAKE_BINARY_DIR}/deps/libjpeg)
set(_jpeg_lib ${_jpeg_prefix}/lib/libjpeg.a)

if(NOT EXISTS ${_jpeg_lib})
  message(STATUS "Building static libjpeg for ${CMAKE_SYSTEM_PROCESSOR} from ${ROVANTA_LIBJPEG_SOURCE}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${ROVANTA_LIBJPEG_SOURCE} -B ${_jpeg_build} -G ${CMAKE_GENERATOR}
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${_jpeg_prefix}
            -DCMAKE_POLICY_DEFAULT_CMP0058=NEW
            -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF
            -DWITH_JPEG7=OFF -DWITH_JPEG8=OFF -DWITH_SIMD=ON -DREQUIRE_SIMD=ON
    RESULT_VARIABLE _rc OUTPUT_QUIET)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "configuring libjpeg-turbo for Windows failed")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${_jpeg_build} --target jpeg-static -j 2
                  RESULT_VARIABLE _rc OUTPUT_QUIET)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "building libjpeg-turbo for Windows failed")
  endif()
  file(MAKE_DIRECTORY ${_jpeg_prefix}/include ${_jpeg_prefix}/lib)
  file(COPY ${ROVANTA_LIBJPEG_SOURCE}/jpeglib.h ${ROVANTA_LIBJPEG_SOURCE}/jmorecfg.h
            ${ROVANTA_LIBJPEG_SOURCE}/jerror.h ${_jpeg_build}/jconfig.h
       DESTINATION ${_jpeg_prefix}/include)
  file(COPY ${_jpeg_build}/libjpeg.a DESTINATION ${_jpeg_prefix}/lib)
endif()

set(JPEG_INCLUDE_DIR ${_jpeg_prefix}/include CACHE PATH "" FORCE)
set(JPEG_LIBRARY_RELEASE ${_jpeg_lib} CACHE FILEPATH "" FORCE)
set(JPEG_LIBRARY ${_jpeg_lib} CACHE FILEPATH "" FORCE)
