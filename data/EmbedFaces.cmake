# Writes the help page: IN copied to OUT with every @face:NAME@ replaced by an
# <img> of ART/NAME.svg as a data URI, so the page stays one file that shows
# the window's own buttons.
#   cmake -DIN=Zel.html.in -DOUT=Zel.html -DART=src/app/skin/art -P EmbedFaces.cmake
file(READ "${IN}" page)
string(REGEX MATCHALL "@face:[a-z0-9-]+@" marks "${page}")
list(REMOVE_DUPLICATES marks)
foreach(mark IN LISTS marks)
  string(REGEX REPLACE "@face:([a-z0-9-]+)@" "\\1" name "${mark}")
  if(NOT EXISTS "${ART}/${name}.svg")
    message(FATAL_ERROR "help page: no drawing ${ART}/${name}.svg for ${mark}")
  endif()
  file(READ "${ART}/${name}.svg" svg)
  foreach(pair "%;%25" "#;%23" "\";'" "<;%3C" ">;%3E" "\n; ")
    list(GET pair 0 from)
    list(GET pair 1 to)
    string(REPLACE "${from}" "${to}" svg "${svg}")
  endforeach()
  string(REPLACE "${mark}" "<img class=\"face\" alt=\"\" src=\"data:image/svg+xml,${svg}\">"
         page "${page}")
endforeach()
file(WRITE "${OUT}.part" "${page}")
file(RENAME "${OUT}.part" "${OUT}")
