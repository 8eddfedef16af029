# Tests of launcher/base: libjpeg encodes the pictures the decoding tests read, and a small
# JPEG fixture goes through the same resource embedding as the program's logos.
find_package(JPEG REQUIRED)
target_link_libraries(kw_tests_launcher_base PRIVATE JPEG::JPEG)
kw_embed_resources(${CMAKE_BINARY_DIR}/generated/kwTestResources.cpp kwTestResources
  ${CMAKE_SOURCE_DIR}/tests/data/launcher/base/logo_teste.jpg)
target_sources(kw_tests_launcher_base PRIVATE ${CMAKE_BINARY_DIR}/generated/kwTestResources.cpp)
