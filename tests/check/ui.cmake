# The settings-check window (Qt Test, offscreen) against the in-process
# simulated block. Included from this folder's CMakeLists.txt, so no return().
if(TARGET kestrel_check_ui AND TARGET kestrel_app_ui AND TARGET kestrel_sim AND TARGET Qt6::Test)
    add_executable(ui_check_settings ${CMAKE_CURRENT_SOURCE_DIR}/tst_settings_check.cpp)
    set_target_properties(ui_check_settings PROPERTIES AUTOMOC ON)
    target_link_libraries(ui_check_settings PRIVATE kestrel_check_ui kestrel_app_ui kestrel_sim Qt6::Test Qt6::Widgets)
    target_include_directories(ui_check_settings PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    kestrel_add_ui_test(ui_check_settings)
endif()
