# reeldeck: the launcher. Its logic and the platform calls are free of the
# toolkit and unit-tested; only deck_wx.cpp knows wxWidgets.
add_library(reeldeck_logic STATIC
  ${CMAKE_CURRENT_LIST_DIR}/deck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reel_icon.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform/process.cpp)
target_include_directories(reeldeck_logic PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(reeldeck_logic PUBLIC reelscan)
# "Rip to ???" runs the rip library's WebM export in the launcher's process.
target_link_libraries(reeldeck_logic PUBLIC reelrip_core)

find_package(wxWidgets REQUIRED COMPONENTS core base)
include(${wxWidgets_USE_FILE})
add_executable(reeldeck ${CMAKE_CURRENT_LIST_DIR}/deck_wx.cpp)
target_link_libraries(reeldeck PRIVATE reeldeck_logic ${wxWidgets_LIBRARIES})
target_compile_definitions(reeldeck PRIVATE REEL_VERSION="${PROJECT_VERSION}")

# The desktop's icon is the same drawing, written out at build time at the
# sizes of the hicolor theme.
find_package(PNG REQUIRED)
add_executable(reeldeck_icon ${CMAKE_CURRENT_LIST_DIR}/reeldeck_icon.cpp)
target_link_libraries(reeldeck_icon PRIVATE reeldeck_logic PNG::PNG)
set(REELDECK_ICON_SIZES 16 32 48 64 128 256)
set(REELDECK_ICONS)
foreach(size ${REELDECK_ICON_SIZES})
  set(icon ${CMAKE_BINARY_DIR}/icons/${size}x${size}/reeldeck.png)
  add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
    COMMAND reeldeck_icon ${icon} ${size}
    DEPENDS reeldeck_icon
    COMMENT "Drawing the launcher's icon at ${size} pixels")
  list(APPEND REELDECK_ICONS ${icon})
endforeach()
add_custom_target(reeldeck_icon_png ALL DEPENDS ${REELDECK_ICONS})

include(GNUInstallDirs)
# The launcher looks for the player beside itself when started from a menu.
install(TARGETS reeldeck reelplay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/reeldeck.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size ${REELDECK_ICON_SIZES})
  install(FILES ${CMAKE_BINARY_DIR}/icons/${size}x${size}/reeldeck.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
