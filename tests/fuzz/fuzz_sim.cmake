# The simulated block under arbitrary request bytes and arbitrary typed
# commands; its sources are compiled in so the fuzzer sees their coverage.
kestrel_add_fuzzer(fuzz_sim
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_sim.cpp
            ${PROJECT_SOURCE_DIR}/sim/SimFrame.cpp
            ${PROJECT_SOURCE_DIR}/sim/SimEvent.cpp
            ${PROJECT_SOURCE_DIR}/sim/SimCb.cpp
            ${PROJECT_SOURCE_DIR}/sim/SimWire.cpp
            ${PROJECT_SOURCE_DIR}/sim/SimScenario.cpp
            ${PROJECT_SOURCE_DIR}/sim/SimBus.cpp
    LIBS kestrel_state
    SECONDS 30)
target_include_directories(fuzz_sim PRIVATE ${PROJECT_SOURCE_DIR}/sim)
