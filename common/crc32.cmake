# The carry-less-multiply CRC-32 is compiled for that instruction set; it runs only after a CPU check.
set_source_files_properties(${CMAKE_SOURCE_DIR}/common/aCRC32_pclmul.cpp
  TARGET_DIRECTORY kw_common PROPERTIES COMPILE_OPTIONS "-mpclmul;-msse4.1")
