# Per-target compiler settings for the project's own targets (not directory-wide):
# warnings, and the sanitizer and fuzzing instrumentation chosen at configure time.
#
#   -DORVEL_SANITIZE=address   AddressSanitizer + UndefinedBehaviorSanitizer
#   -DORVEL_SANITIZE=thread    ThreadSanitizer
#   -DORVEL_FUZZ=ON            libFuzzer targets under fuzz/ (Clang only; implies address)
set(ORVEL_SANITIZE "" CACHE STRING "Sanitizers for the project's targets: address, thread or empty")
set_property(CACHE ORVEL_SANITIZE PROPERTY STRINGS "" address thread)
option(ORVEL_FUZZ "Build the libFuzzer targets (needs Clang)" OFF)

if(ORVEL_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "ORVEL_FUZZ needs Clang (e.g. -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14)")
    endif()
    if(ORVEL_SANITIZE STREQUAL "")
        set(ORVEL_SANITIZE address CACHE STRING "" FORCE)
    elseif(NOT ORVEL_SANITIZE STREQUAL "address")
        message(FATAL_ERROR "ORVEL_FUZZ runs with ORVEL_SANITIZE=address only")
    endif()
endif()

set(ORVEL_SANITIZE_FLAGS "")
if(ORVEL_SANITIZE STREQUAL "address")
    # Every UBSan finding stops the program, so a test or fuzzer cannot pass over one.
    set(ORVEL_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer)
elseif(ORVEL_SANITIZE STREQUAL "thread")
    set(ORVEL_SANITIZE_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT ORVEL_SANITIZE STREQUAL "")
    message(FATAL_ERROR "ORVEL_SANITIZE must be address, thread or empty, not '${ORVEL_SANITIZE}'")
endif()
if(ORVEL_SANITIZE_FLAGS AND NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    message(FATAL_ERROR "ORVEL_SANITIZE needs GCC or Clang")
endif()
# GCC 12 reports writes into QByteArray data as overflows once a sanitizer
# instruments them (its object-size tracking sees the shared empty array).
if(ORVEL_SANITIZE_FLAGS AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    list(APPEND ORVEL_SANITIZE_FLAGS -Wno-stringop-overflow)
endif()

# Sanitizer run-time options for everything CTest starts; the suppression files
# cover findings inside Qt and libmosquitto only (each entry says why).
set(ORVEL_SANITIZER_DIR ${CMAKE_CURRENT_LIST_DIR}/sanitizers)
get_filename_component(ORVEL_SANITIZER_DIR ${ORVEL_SANITIZER_DIR} ABSOLUTE)
set(ORVEL_SANITIZER_ENV "")
if(ORVEL_SANITIZE STREQUAL "address")
    set(ORVEL_SANITIZER_ENV
        "ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1"
        "LSAN_OPTIONS=suppressions=${ORVEL_SANITIZER_DIR}/lsan.supp:print_suppressions=0"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=${ORVEL_SANITIZER_DIR}/ubsan.supp")
elseif(ORVEL_SANITIZE STREQUAL "thread")
    # QT_NO_GLIB: Qt's own event dispatcher, so that the event loops' wake-ups
    # stay inside Qt instead of an uninstrumented GLib.
    set(ORVEL_SANITIZER_ENV
        "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=${ORVEL_SANITIZER_DIR}/tsan.supp"
        "QT_NO_GLIB=1")
endif()

function(orvel_warnings target)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE -Wall -Wextra)
    endif()
    if(ORVEL_SANITIZE_FLAGS)
        target_compile_options(${target} PRIVATE ${ORVEL_SANITIZE_FLAGS})
        target_link_options(${target} PRIVATE ${ORVEL_SANITIZE_FLAGS})
    endif()
    if(ORVEL_FUZZ)
        # Coverage feedback for the fuzzers from the library's own code.
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
endfunction()
