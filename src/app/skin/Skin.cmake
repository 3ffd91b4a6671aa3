# The window's skin and the application icon: SVG drawings rendered to PNG at
# build time and compiled into zel_app as resources (:/skin/<name>.png with
# <name>@2x.png beside it, :/icons/zel-<size>.png). The PNGs are build outputs.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(render_svg ${PROJECT_SOURCE_DIR}/tools/render-svg.sh)
set(skin_rc_dir ${CMAKE_CURRENT_BINARY_DIR}/rc)

file(GLOB skin_svgs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/art/*.svg)
set(skin_pngs)
foreach(svg ${skin_svgs})
  get_filename_component(name ${svg} NAME_WE)
  set(png ${skin_rc_dir}/skin/${name}.png)
  set(png2x ${skin_rc_dir}/skin/${name}@2x.png)
  # the background embeds other drawings of the folder (<image href>)
  set(depends ${svg})
  if(name STREQUAL "background" OR name MATCHES "^label-")
    set(depends ${skin_svgs})
  endif()
  add_custom_command(OUTPUT ${png} ${png2x}
    COMMAND ${render_svg} ${svg} ${png} 1
    COMMAND ${render_svg} ${svg} ${png2x} 2
    DEPENDS ${depends} ${render_svg}
    COMMENT "Rendering skin image ${name}" VERBATIM)
  list(APPEND skin_pngs ${png} ${png2x})
endforeach()

# The small sizes come from drawings made for their pixel grids.
set(icon_dir ${CMAKE_CURRENT_LIST_DIR}/../icon)
set(icon_sizes 16 22 24 32 48 64 128 256)
set(icon_pngs)
foreach(size ${icon_sizes})
  if(size EQUAL 16)
    set(svg ${icon_dir}/zel-16.svg)
  elseif(size LESS_EQUAL 32)
    set(svg ${icon_dir}/zel-small.svg)
  else()
    set(svg ${icon_dir}/zel.svg)
  endif()
  set(png ${skin_rc_dir}/icons/zel-${size}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${render_svg} ${svg} ${png} ${size}x${size}
    DEPENDS ${svg} ${render_svg}
    COMMENT "Rendering icon ${size}x${size}" VERBATIM)
  list(APPEND icon_pngs ${png})
endforeach()

qt_add_resources(zel_app zel_skin PREFIX "/" BASE ${skin_rc_dir}
  FILES ${skin_pngs} ${icon_pngs})

include(GNUInstallDirs)
foreach(size ${icon_sizes})
  install(FILES ${skin_rc_dir}/icons/zel-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME zel.png)
endforeach()
install(FILES ${icon_dir}/zel.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
