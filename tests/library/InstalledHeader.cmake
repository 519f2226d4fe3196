# Installs the library into a scratch prefix, then compiles and runs header_test.c as C with
# nothing but the installed header, library and pkg-config file.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK} --component Unspecified
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
file(GLOB_RECURSE pc ${WORK}/*/pellix.pc)
if(NOT pc)
  message(FATAL_ERROR "no pellix.pc installed")
endif()
get_filename_component(pcdir ${pc} DIRECTORY)
get_filename_component(libdir ${pcdir} DIRECTORY)
if(NOT EXISTS ${libdir}/cmake/Pellix/PellixConfig.cmake)
  message(FATAL_ERROR "no CMake package config installed")
endif()
separate_arguments(FLAGS)
execute_process(COMMAND ${CC} -std=c11 -Wall -Wextra -Werror -pedantic ${FLAGS} -I${WORK}/include ${SOURCE}
                        -L${libdir} -lpellix -Wl,-rpath,${libdir} -o ${WORK}/header_test
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the header does not compile as C on its own")
endif()
execute_process(COMMAND ${WORK}/header_test RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "header_test failed: ${rc}")
endif()
