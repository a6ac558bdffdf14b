# A walk-test played by kestrel-cbsim, checked by kestrel-console and printed
# by kestrel-sheet (Linux: the simulator serves a pseudo-terminal).
find_program(KESTREL_E2E_PDFTOTEXT pdftotext)
if(NOT WIN32 AND TARGET kestrel-cbsim AND TARGET kestrel-console AND TARGET kestrel-sheet)
    add_test(NAME walktest_e2e
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/walktest_e2e.sh $<TARGET_FILE:kestrel-cbsim>
                $<TARGET_FILE:kestrel-console> $<TARGET_FILE:kestrel-sheet>
                ${PROJECT_SOURCE_DIR}/sim/scenarios/walktest.txt "${KESTREL_E2E_PDFTOTEXT}")
    set_tests_properties(walktest_e2e PROPERTIES LABELS "slow;walktest" TIMEOUT 120 SKIP_RETURN_CODE 77)
endif()
