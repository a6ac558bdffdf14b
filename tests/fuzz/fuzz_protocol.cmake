# Response validation and event decoding. The link and protocol sources are
# compiled into the target so that the fuzzer sees their coverage.
kestrel_add_fuzzer(fuzz_protocol
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_protocol.cpp
            ${PROJECT_SOURCE_DIR}/src/link/ComPort.cpp
            ${PROJECT_SOURCE_DIR}/src/link/Link.cpp
            ${PROJECT_SOURCE_DIR}/src/link/PcapCapture.cpp
            ${PROJECT_SOURCE_DIR}/src/protocol/Events.cpp
            ${PROJECT_SOURCE_DIR}/src/protocol/Protocol.cpp
    LIBS kestrel_state
    SECONDS 60)
