# Sources of the firmware tool bridge, part of quorvale_core.
set(TOOL_SOURCES
  firmwaretool.cpp
  tooloutput.cpp
  versionparse.cpp
  toolrun.cpp
  upgraderun.cpp
  versionquery.cpp
  upgradeoutcome.cpp
  toollock.cpp
  imagefile.cpp
  toolwatch.cpp
)
