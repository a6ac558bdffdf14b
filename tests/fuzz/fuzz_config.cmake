# The configuration reader, fed arbitrary files for a bounded time.
kestrel_add_fuzzer(fuzz_config
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_config.cpp
    LIBS kestrel_state
    SECONDS 30)
# Start from a real file: the default configuration.
if(TARGET kestrel-cfg)
    add_custom_command(TARGET fuzz_config POST_BUILD
        COMMAND $<TARGET_FILE:kestrel-cfg> new ${CMAKE_CURRENT_BINARY_DIR}/fuzz_config_corpus/default.cfg
        VERBATIM)
    add_dependencies(fuzz_config kestrel-cfg)
endif()
