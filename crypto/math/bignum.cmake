# The radix-2^52 Montgomery kernels use AVX-512 IFMA (and its 256-bit forms, AVX512VL); only
# their file is built for it, and SBMath calls it after checking the processor (IfmaActive).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set_source_files_properties(${CMAKE_SOURCE_DIR}/crypto/math/SBMathIfma_x86.cpp
    PROPERTIES COMPILE_OPTIONS "-mavx512f;-mavx512ifma;-mavx512vl")
endif()
