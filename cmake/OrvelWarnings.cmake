# Warnings for the project's own targets (not directory-wide), and the subsystem folder walk.
function(orvel_warnings target)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE -Wall -Wextra)
    endif()
endfunction()

# Adds the subsystem folders (ORVEL_SUBSYSTEMS, in that order) that exist
# below the current directory. The glob makes the build re-run CMake when a
# subsystem folder appears. A macro, so the folders see the caller's scope.
macro(orvel_add_subsystems)
    file(GLOB _orvel_subsystem_lists CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
    foreach(_orvel_sub ${ORVEL_SUBSYSTEMS})
        if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_orvel_sub}/CMakeLists.txt)
            add_subdirectory(${_orvel_sub})
        endif()
    endforeach()
endmacro()
