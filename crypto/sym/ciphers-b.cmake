# Camellia's rounds with BMI1 (BEXTR for the table indices) live in their own file, compiled
# with the flag; SBCamellia asks the CPU at run time before calling it, and the portable rounds
# are always built.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set_source_files_properties(${CMAKE_SOURCE_DIR}/crypto/sym/SBCamellia_bmi.cpp
                              PROPERTIES COMPILE_OPTIONS "-mbmi")
endif()
