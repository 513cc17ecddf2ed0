# Dependencies, all from Debian packages. Header-only or static where a
# process start would otherwise pay for loading them.
find_package(Boost 1.81 REQUIRED)  # Boost.JSON (header-only mode), later Asio and Beast
find_library(UTF8PROC_STATIC NAMES libutf8proc.a REQUIRED)
find_path(UTF8PROC_INCLUDE utf8proc.h REQUIRED)
add_library(utf8proc_static STATIC IMPORTED)
set_target_properties(utf8proc_static PROPERTIES IMPORTED_LOCATION ${UTF8PROC_STATIC}
                                                 INTERFACE_INCLUDE_DIRECTORIES ${UTF8PROC_INCLUDE})
find_package(Threads REQUIRED)
if(OSTRELA_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(OSTRELA_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
