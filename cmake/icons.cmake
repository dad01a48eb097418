# The programs' icons for builds without an SVG renderer at run time (Windows): each SVG of
# packaging/icons rendered at build time into PNGs of the sizes title bars, task bars and about
# boxes use (built into the program as :/icons/<name>-<size>.png) and an .ico that the .exe
# carries as icon resource 128. Needs rsvg-convert (librsvg2-bin) and ImageMagick's convert.
if(WIN32)
  find_program(VANTOR_RSVG_CONVERT rsvg-convert)
  find_program(VANTOR_IMAGEMAGICK_CONVERT NAMES convert magick)
endif()

set(VANTOR_ICON_SIZES 16 24 32 48 64 128 256)

# vantor_png_icon(<target> <name>): the PNGs as Qt resources of <target> and, for executables,
# <name>.ico as icon 128 in a Windows resource script.
function(vantor_png_icon target name)
  if(NOT VANTOR_RSVG_CONVERT OR NOT VANTOR_IMAGEMAGICK_CONVERT)
    message(FATAL_ERROR "The ${name} icon needs rsvg-convert and convert "
                        "(librsvg2-bin, imagemagick: scripts/setup.sh --tests installs them)")
  endif()
  set(svg ${PROJECT_SOURCE_DIR}/packaging/icons/${name}.svg)
  set(dir ${CMAKE_BINARY_DIR}/icons)
  set(pngs)
  foreach(size ${VANTOR_ICON_SIZES})
    set(png ${dir}/${name}-${size}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${VANTOR_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${svg}
      DEPENDS ${svg} VERBATIM)
    list(APPEND pngs ${png})
  endforeach()
  set_source_files_properties(${pngs} PROPERTIES GENERATED TRUE)
  qt_add_resources(${target} ${name}_icon PREFIX /icons BASE ${dir} FILES ${pngs})
endfunction()

# vantor_exe_icon(<target> <name>): <name>.ico (16 to 256 pixels) as the executable's icon 128.
function(vantor_exe_icon target name)
  set(dir ${CMAKE_BINARY_DIR}/icons)
  set(ico ${dir}/${name}.ico)
  set(pngs)
  foreach(size 16 24 32 48 256)
    list(APPEND pngs ${dir}/${name}-${size}.png)
  endforeach()
  add_custom_command(OUTPUT ${ico}
    COMMAND ${VANTOR_IMAGEMAGICK_CONVERT} ${pngs} ${ico}
    DEPENDS ${pngs} VERBATIM)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${name}_icon.rc)
  file(WRITE ${rc}.in "128 ICON \"${ico}\"\n")
  configure_file(${rc}.in ${rc} COPYONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${ico})
  target_sources(${target} PRIVATE ${rc})
endfunction()

# vantor_program_icon(<target> <name>): icon 128 of a program's library <target>: the SVG of
# packaging/icons built in as :/icons/<name>.svg; on Windows the PNGs rendered from it
# (:/icons/<name>-<size>.png).
function(vantor_program_icon target name)
  if(WIN32)
    vantor_png_icon(${target} ${name})
  else()
    qt_add_resources(${target} ${name}_icon PREFIX /icons BASE ${PROJECT_SOURCE_DIR}/packaging/icons
      FILES ${PROJECT_SOURCE_DIR}/packaging/icons/${name}.svg)
  endif()
endfunction()
