# Sources of the firmware tool bridge, part of quorvale_core.
set(TOOL_SOURCES
)
