# The demo's stand-in programs (app/demo), built beside kwLoader: kwExecDemo, a stand-in for the
# update executor "kwExec.exe", and kwDemoApp, the tiny application. scripts/demo (`make demo`)
# installs them into the demo workstation and its update site; the launcher's end-to-end test
# uses them too.
add_executable(kwExecDemo ${CMAKE_SOURCE_DIR}/app/demo/kwExecDemo.cpp)
kw_warnings(kwExecDemo)
target_link_libraries(kwExecDemo PRIVATE kw_transfer kw_common)

add_executable(kwDemoApp ${CMAKE_SOURCE_DIR}/app/demo/kwDemoApp.cpp)
kw_warnings(kwDemoApp)
target_link_libraries(kwDemoApp PRIVATE kw_platform)
