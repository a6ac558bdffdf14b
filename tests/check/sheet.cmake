# The settings sheet read back as text and pictures (poppler-utils); the
# tool's exit codes. Host programs, so not in the Windows build.
if(NOT TARGET kestrel-sheet OR WIN32)
    return()
endif()
find_program(KESTREL_PDFTOTEXT pdftotext)
find_program(KESTREL_PDFTOPPM pdftoppm)
kestrel_add_gtest(sheet_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/sheet_test.cpp
    LIBS kestrel_check_ui kestrel_state Qt6::Gui
    LABELS check ui)
add_dependencies(sheet_test kestrel-sheet)
# A missing program leaves its path empty: those cases skip.
target_compile_definitions(sheet_test PRIVATE
    KESTREL_SHEET_TOOL="$<TARGET_FILE:kestrel-sheet>"
    KESTREL_PDFTOTEXT="$<$<BOOL:${KESTREL_PDFTOTEXT}>:${KESTREL_PDFTOTEXT}>"
    KESTREL_PDFTOPPM="$<$<BOOL:${KESTREL_PDFTOPPM}>:${KESTREL_PDFTOPPM}>")
