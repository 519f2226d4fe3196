# Installs the build into a scratch prefix, then compiles SOURCE as C (standard STD) with nothing
# but the installed header, the library LIB and its pkg-config and CMake package (PACKAGE) files,
# and runs it with ARGS.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK} --component Unspecified
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
file(GLOB_RECURSE pc ${WORK}/*/${LIB}.pc)
if(NOT pc)
  message(FATAL_ERROR "no ${LIB}.pc installed")
endif()
get_filename_component(pcdir ${pc} DIRECTORY)
get_filename_component(libdir ${pcdir} DIRECTORY)
if(NOT EXISTS ${libdir}/cmake/${PACKAGE}/${PACKAGE}Config.cmake)
  message(FATAL_ERROR "no CMake package config of ${PACKAGE} installed")
endif()
separate_arguments(FLAGS)
separate_arguments(ARGS)
# The run path as DT_RPATH, which also serves the libraries the library itself needs.
execute_process(COMMAND ${CC} -std=${STD} -Wall -Wextra -Werror -pedantic ${FLAGS} -I${WORK}/include ${SOURCE}
                        -L${libdir} -l${LIB} -pthread -Wl,--disable-new-dtags,-rpath,${libdir} -o ${WORK}/program
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the header does not compile as C on its own")
endif()
execute_process(COMMAND ${WORK}/program ${ARGS} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${SOURCE} failed: ${rc}")
endif()
