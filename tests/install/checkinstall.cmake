file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "Failed (${rc}): ${ARGN}\n${out}")
    endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
# A sanitized library needs a host linked with the same sanitizer run-time.
set(host_args "")
if(HOST_SANITIZE_FLAGS)
    set(host_args -DCMAKE_CXX_COMPILER=${HOST_COMPILER} "-DCMAKE_CXX_FLAGS=${HOST_SANITIZE_FLAGS}"
        "-DCMAKE_EXE_LINKER_FLAGS=${HOST_SANITIZE_FLAGS}")
endif()
run(${CMAKE_COMMAND} -S ${HOST_SOURCE_DIR} -B ${WORK_DIR}/host -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release ${host_args})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/host)
run(${WORK_DIR}/host/installhost)
