# AES on the CPU's AES instructions lives in its own file, compiled with the instruction-set
# flags; SBAES checks the CPU at run time before calling it, and the table code is always built.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86)$")
  set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/crypto/sym/SBAES_aesni.cpp
                              PROPERTIES COMPILE_OPTIONS "-maes;-msse4.1")
endif()
