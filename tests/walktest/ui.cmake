# The walk-test window (Qt Test, offscreen) against the in-process simulated
# block. Included from this folder's CMakeLists.txt, so no return().
if(TARGET kestrel_walktest_ui AND TARGET kestrel_app_ui AND TARGET kestrel_sim AND TARGET Qt6::Test)
    add_executable(ui_walktest ${CMAKE_CURRENT_SOURCE_DIR}/tst_walktest_form.cpp)
    set_target_properties(ui_walktest PROPERTIES AUTOMOC ON)
    target_link_libraries(ui_walktest PRIVATE kestrel_walktest_ui kestrel_app_ui kestrel_sim Qt6::Test Qt6::Widgets)
    target_include_directories(ui_walktest PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    kestrel_add_ui_test(ui_walktest LABELS walktest)
endif()
