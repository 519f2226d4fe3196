# The installed package as a new user meets it: installed into one scratch prefix and then moved
# to another, so nothing may point back to the prefix it was configured or installed with. Then a
# C program is built with nothing but `pkg-config --cflags --libs pellix`, a CMake project with
# find_package(Pellix), and the installed tools run from the moved bin/ folder.
file(REMOVE_RECURSE ${WORK})
set(staged ${WORK}/staged)
set(prefix ${WORK}/moved)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${staged} RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
file(RENAME ${staged} ${prefix})

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

# pkg-config, as the README shows it.
file(GLOB_RECURSE pc ${prefix}/*/pellix.pc)
if(NOT pc)
  message(FATAL_ERROR "no pellix.pc installed")
endif()
get_filename_component(pcdir ${pc} DIRECTORY)
run("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pcdir} pkg-config --cflags --libs pellix)
string(STRIP "${output}" flags)
if(NOT flags MATCHES "${prefix}")
  message(FATAL_ERROR "pkg-config points elsewhere than the moved prefix ${prefix}: ${flags}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
get_filename_component(libdir ${pcdir} DIRECTORY)
run("the C build with pkg-config" ${CC} -std=c11 -Wall -Werror ${SOURCE} ${flags} -o ${WORK}/with_pkgconfig)
run("the program built with pkg-config" ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${libdir} ${WORK}/with_pkgconfig)

# CMake's find_package.
run("configuring a CMake project with find_package(Pellix)" ${CMAKE_COMMAND} -S ${PROJECT} -B ${WORK}/project
    -G ${GENERATOR} -DCMAKE_C_COMPILER=${CC} -DCMAKE_PREFIX_PATH=${prefix} -DAPP_SOURCE=${SOURCE})
run("building it" ${CMAKE_COMMAND} --build ${WORK}/project)
run("the program built with CMake" ${WORK}/project/host)

# The tools and the simulator, from bin/, with the library of the prefix they lie in.
foreach(tool pellix-ls pellix-grab pellix-update kelvo-sim)
  run("${tool} --help" ${prefix}/bin/${tool} --help)
  if(tool MATCHES "^pellix-(ls|grab)$" AND NOT output MATCHES "default 5000 ms.*publish port 3072")
    message(FATAL_ERROR "${tool} --help states no ports and time-outs:\n${output}")
  endif()
endforeach()
run("the installed pellix-ls against its in-process simulator" ${CMAKE_COMMAND} -E env --unset=VISTEL_CONFIG
    --unset=LD_LIBRARY_PATH ${prefix}/bin/pellix-ls)
if(NOT output MATCHES "IMG0  image")
  message(FATAL_ERROR "the installed pellix-ls listed no IMG0:\n${output}")
endif()
