# korvex_version: the project's version as a generated header
# (korvex_version.h, korvex::kVersion), for every program that prints it.
configure_file("${PROJECT_SOURCE_DIR}/cmake/korvex_version.h.in" "${PROJECT_BINARY_DIR}/generated/korvex_version.h"
               @ONLY)
add_library(korvex_version INTERFACE)
target_include_directories(korvex_version INTERFACE "${PROJECT_BINARY_DIR}/generated")
