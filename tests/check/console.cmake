# The console's settings commands end to end against kestrel-cbsim (Linux:
# the simulator serves a pseudo-terminal).
if(NOT WIN32 AND TARGET kestrel-cbsim AND TARGET kestrel-console AND TARGET kestrel-cfg)
    add_test(NAME check_console_e2e
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/console_e2e.sh $<TARGET_FILE:kestrel-cbsim>
                $<TARGET_FILE:kestrel-console> $<TARGET_FILE:kestrel-cfg>)
    set_tests_properties(check_console_e2e PROPERTIES LABELS "slow;check" TIMEOUT 180)
endif()
