# The launcher's end-to-end test on the local road prepares the demo's workstation
# (scripts/demo --prepare-only), which installs the programs as built: kwLoader and the demo's
# stand-in executor and application.
if(TARGET kw_tests_launcher_peer)
  foreach(p kwLoader kwExecDemo kwDemoApp)
    if(TARGET ${p})
      add_dependencies(kw_tests_launcher_peer ${p})
    endif()
  endforeach()
endif()

# `make demo` itself, into a folder of its own in the build tree: the local and remote road
# pairs and the pair with the executor on an HTTPS site. The script fails when a run does not
# do what it should, and stops every server it started.
if(TARGET kwLoader AND TARGET kwExecDemo AND TARGET kwDemoApp)
  add_test(NAME demo COMMAND ${CMAKE_SOURCE_DIR}/scripts/demo ${CMAKE_BINARY_DIR}/demo-test)
  set_tests_properties(demo PROPERTIES LABELS peer ENVIRONMENT "BUILD=${CMAKE_BINARY_DIR}" TIMEOUT 600)
endif()
