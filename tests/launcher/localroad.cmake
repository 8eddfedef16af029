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
