# Tests of common/: libjpeg encodes the pictures the decoding tests read, and a small
# JPEG fixture goes through the same resource embedding as the program's logos.
find_package(JPEG REQUIRED)
target_link_libraries(kw_tests_common PRIVATE JPEG::JPEG)
kw_embed_resources(${CMAKE_BINARY_DIR}/generated/kwTestResources.cpp kwTestResources
  ${CMAKE_SOURCE_DIR}/tests/data/common/logo_teste.jpg)
target_sources(kw_tests_common PRIVATE ${CMAKE_BINARY_DIR}/generated/kwTestResources.cpp)
