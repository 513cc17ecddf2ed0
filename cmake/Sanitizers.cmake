# Sanitizers for every target (OSTRELA_SANITIZE), and libFuzzer's instrumentation
# on top of them for the fuzz build (OSTRELA_FUZZ).
if(OSTRELA_SANITIZE)
  list(JOIN OSTRELA_SANITIZE "," _ostrela_sanitizers)
  add_compile_options(-fsanitize=${_ostrela_sanitizers} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_ostrela_sanitizers})
  # GCC warns that ThreadSanitizer does not model the fences in Asio's handler
  # invocation; Asio's queues synchronise with mutexes, which it does model.
  if(OSTRELA_SANITIZE STREQUAL "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-tsan)
  endif()
endif()

if(OSTRELA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT OSTRELA_SANITIZE)
    message(FATAL_ERROR "OSTRELA_FUZZ needs clang and OSTRELA_SANITIZE (e.g. address;undefined)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
