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

# The desktop's icon is the same drawing, written out at build time.
find_package(PNG REQUIRED)
add_executable(reeldeck_icon ${CMAKE_CURRENT_LIST_DIR}/reeldeck_icon.cpp)
target_link_libraries(reeldeck_icon PRIVATE reeldeck_logic PNG::PNG)
set(REELDECK_ICON ${CMAKE_BINARY_DIR}/reeldeck.png)
add_custom_command(OUTPUT ${REELDECK_ICON}
  COMMAND reeldeck_icon ${REELDECK_ICON} 128
  DEPENDS reeldeck_icon
  COMMENT "Drawing the launcher's icon")
add_custom_target(reeldeck_icon_png ALL DEPENDS ${REELDECK_ICON})

include(GNUInstallDirs)
# The launcher looks for the player beside itself when started from a menu.
install(TARGETS reeldeck reelplay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/reeldeck.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${REELDECK_ICON}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
