# The walk-test certificate read back as text and word boxes (poppler-utils);
# kestrel-sheet --certificate's answer to a damaged test file. Host
# programs, so not in the Windows build.
if(NOT TARGET kestrel_walktest_ui OR NOT TARGET kestrel-sheet OR WIN32)
    return()
endif()
find_program(KESTREL_PDFTOTEXT pdftotext)
kestrel_add_gtest(cert_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/cert_test.cpp
    LIBS kestrel_walktest_ui kestrel_check kestrel_state Qt6::Gui
    LABELS walktest ui)
add_dependencies(cert_test kestrel-sheet)
# A missing program leaves its path empty: the cases skip.
target_compile_definitions(cert_test PRIVATE
    KESTREL_SHEET_TOOL="$<TARGET_FILE:kestrel-sheet>"
    KESTREL_PDFTOTEXT="$<$<BOOL:${KESTREL_PDFTOTEXT}>:${KESTREL_PDFTOTEXT}>")
