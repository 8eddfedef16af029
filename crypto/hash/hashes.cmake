# The accelerated hash block functions are the only code of the library built for a newer
# processor than the baseline; the library picks them at run time after checking the CPU.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i[3-6]86)$")
  set_source_files_properties(${CMAKE_SOURCE_DIR}/crypto/hash/SBSHA_x86.cpp
    PROPERTIES COMPILE_OPTIONS "-msha;-msse4.1;-mssse3")
  set_source_files_properties(${CMAKE_SOURCE_DIR}/crypto/hash/SBSHA512_x86.cpp
    PROPERTIES COMPILE_OPTIONS "-mavx512f;-mavx512vl;-mbmi2")
  set_source_files_properties(${CMAKE_SOURCE_DIR}/crypto/hash/SBSHA512_avx2.cpp
    PROPERTIES COMPILE_OPTIONS "-mavx2;-mbmi2")
endif()
