# Installs the build into a scratch prefix, then compiles control_c_test.c as C99 with nothing but
# the installed header, libpellixcontrol and its pkg-config and CMake files, and runs it against
# the kelvo-sim program.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK} --component Unspecified
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
file(GLOB_RECURSE pc ${WORK}/*/pellixcontrol.pc)
if(NOT pc)
  message(FATAL_ERROR "no pellixcontrol.pc installed")
endif()
get_filename_component(pcdir ${pc} DIRECTORY)
get_filename_component(libdir ${pcdir} DIRECTORY)
if(NOT EXISTS ${libdir}/cmake/PellixControl/PellixControlConfig.cmake)
  message(FATAL_ERROR "no CMake package config of the control installed")
endif()
separate_arguments(FLAGS)
execute_process(COMMAND ${CC} -std=c99 -Wall -Wextra -Werror -pedantic ${FLAGS} -I${WORK}/include ${SOURCE}
                        -L${libdir} -lpellixcontrol -pthread -Wl,--disable-new-dtags,-rpath,${libdir} -o ${WORK}/control_c_test
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the control's header does not compile as C on its own")
endif()
execute_process(COMMAND ${WORK}/control_c_test ${SIM} ${WORK} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "control_c_test failed: ${rc}")
endif()
